// Device media: for each connected device, a button that loads its media library, the
// loading steps as they arrive, and its tracks (title, artist, album, duration) as the match
// with the music library reports each one.
(function () {
    var STEPS = { loadingLibrary: 'Loading library…', playlistsLoaded: 'Playlists loaded',
        tracksLoaded: 'Tracks loaded', matching: 'Matched with the music library' };

    function area() { return document.getElementById('device-media'); }
    function panelOf(id) { return area().querySelector('[data-id="' + CSS.escape(id || '') + '"]'); }

    function duration(ms) {
        var seconds = Math.floor((Number(ms) || 0) / 1000);
        var rest = seconds % 60;
        return Math.floor(seconds / 60) + ':' + (rest < 10 ? '0' : '') + rest;
    }

    function showError(panel, error) {
        panel.querySelector('.media-error').textContent = String(error && error.message || error);
    }

    function addDevice(device) {
        var id = device && device.deviceId;
        if (!id || panelOf(id)) return;
        var empty = area().querySelector('.empty');
        if (empty) empty.remove();
        var panel = document.createElement('div');
        panel.className = 'media-device';
        panel.setAttribute('data-id', id);
        panel.innerHTML = '<h3></h3> <button type="button" class="media-load">Load library</button>' +
            ' <span class="media-step"></span> <span class="media-error error"></span>' +
            '<table class="media-tracks"><thead><tr><th>Title</th><th>Artist</th><th>Album</th>' +
            '<th>Duration</th></tr></thead><tbody></tbody></table>';
        panel.querySelector('h3').textContent = device.name || 'Device';
        panel.querySelector('.media-load').addEventListener('click', function () {
            showError(panel, '');
            App.call('load-device-library', { deviceId: id }).catch(function (e) { showError(panel, e); });
        });
        area().appendChild(panel);
    }

    function removeDevice(device) {
        var panel = panelOf(device && device.deviceId);
        if (panel) panel.remove();
        if (!area().children.length) area().innerHTML = '<p class="empty">No device connected.</p>';
    }

    function showTrack(panel, track) {
        var body = panel.querySelector('tbody');
        var key = String(track.pidstr !== undefined ? track.pidstr : track.pid);
        var row = body.querySelector('[data-pid="' + CSS.escape(key) + '"]');
        if (!row) {
            row = document.createElement('tr');
            row.setAttribute('data-pid', key);
            row.innerHTML = '<td></td><td></td><td></td><td></td>';
            body.appendChild(row);
        }
        var cells = row.children;
        cells[0].textContent = track.title || '';
        cells[1].textContent = track.artist || '';
        cells[2].textContent = track.album || '';
        cells[3].textContent = duration(track.length);
    }

    function showStep(data) {
        var panel = panelOf(data && data.deviceId);
        if (!panel) return;
        if (data.step === 'loadingLibrary') {
            panel.querySelector('tbody').innerHTML = '';
            panel.removeAttribute('data-matched');
        }
        if (data.step === 'matching') panel.setAttribute('data-matched', '');
        if (data.step === 'updateTrack' && data.track) showTrack(panel, data.track);
        // The end of the load may arrive after the match it started has ended.
        else if (STEPS[data.step] && !(data.step === 'tracksLoaded' && panel.hasAttribute('data-matched')))
            panel.querySelector('.media-step').textContent = STEPS[data.step];
        var count = panel.querySelectorAll('tbody tr').length;
        panel.querySelector('.media-tracks').style.display = count ? 'table' : 'none';
    }

    App.on('deviceAdded', addDevice);
    App.on('deviceRemoved', removeDevice);
    App.on('deviceMediaLoading', showStep);
})();
