// A device's files: not built yet.
(function () {
})();
