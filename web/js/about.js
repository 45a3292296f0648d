// About: not built yet.
(function () {
})();
