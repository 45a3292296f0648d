// Copies: not built yet.
(function () {
})();
