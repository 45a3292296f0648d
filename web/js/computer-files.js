// The computer's files: not built yet.
(function () {
})();
