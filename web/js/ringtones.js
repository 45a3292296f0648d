// Ringtones: not built yet.
(function () {
})();
