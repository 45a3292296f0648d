// HTTP: not built yet.
(function () {
})();
