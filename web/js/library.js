// Music library: the local library's state.
(function () {
    function show(text) { document.getElementById('library').textContent = text; }
    App.on('iTunesLoading', function () { show('Loading…'); });
    App.on('iTunesLoaded', function () { show('Loaded.'); });
})();
