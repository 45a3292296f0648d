// Music library: the local library's track count and playlists once it is loaded and after
// every import, and the tracks of each device that are already in it as the device's
// matching and the page's exports report them.
(function () {
    var summary = null;      // what "itunes" answered
    var loading = false;     // between "iTunesLoading" and "iTunesLoaded"
    var inLibrary = {};      // device id -> {track pid -> "Artist - Title"}
    var deviceNames = {};    // device id -> name

    function element(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }

    function plural(count, word) {
        return count + ' ' + word + (count === 1 ? '' : 's');
    }

    function render(text) {
        var root = document.getElementById('library');
        root.textContent = '';
        if (text) {
            root.appendChild(element('p', 'empty', text));
            return;
        }
        if (!summary || summary.loaded === false) {
            root.appendChild(element('p', 'error', 'The music library is not available.'));
        } else {
            root.appendChild(element('p', 'library-count', plural(summary.trackCount || 0, 'track')));
            var playlists = summary.playlists || [];
            if (!playlists.length) root.appendChild(element('p', 'empty', 'No playlists.'));
            var list = element('ul', 'library-playlists');
            playlists.forEach(function (playlist) {
                var item = element('li', null, playlist.name);
                item.appendChild(element('span', 'library-tracks', plural(playlist.trackCount || 0, 'track')));
                list.appendChild(item);
            });
            if (playlists.length) root.appendChild(list);
        }
        Object.keys(inLibrary).forEach(function (deviceId) {
            var tracks = inLibrary[deviceId];
            var names = Object.keys(tracks);
            if (!names.length) return;
            root.appendChild(element('h3', null, 'Already in the library from ' +
                (deviceNames[deviceId] || deviceId || 'a device')));
            var list = element('ul', 'library-device-tracks');
            names.forEach(function (pid) {
                var item = element('li', 'library-copied', tracks[pid]);
                item.setAttribute('data-pid', pid);
                list.appendChild(item);
            });
            root.appendChild(list);
        });
    }

    // The library's summary comes from "itunes": after the load, and at every page start,
    // since a reloaded page hears no "iTunesLoaded" again.
    function askSummary() {
        App.event('itunes', 'library-summary').then(function (reply) {
            if (loading) return;
            summary = reply.data || null;
            render();
        }, function (error) {
            if (!loading) render(error.message);
        });
    }

    App.on('iTunesLoading', function () {
        loading = true;
        render('Loading the music library…');
    });
    App.on('iTunesLoaded', function () {
        loading = false;
        askSummary();
    });
    App.ready(askSummary);

    // The device's matching reports every track; those found in the library are marked
    // "copied", the others lose the mark.
    App.on('deviceMediaLoading', function (data) {
        if (!data || typeof data.deviceId !== 'string') return;
        var tracks = inLibrary[data.deviceId] = inLibrary[data.deviceId] || {};
        if (data.step === 'loadingLibrary') {
            inLibrary[data.deviceId] = {};
        } else if (data.step === 'updateTrack' && data.track) {
            var pid = String(data.track.pid);
            if (data.track.status === 'copied') {
                tracks[pid] = (data.track.artist ? data.track.artist + ' - ' : '') + (data.track.title || pid);
            } else {
                delete tracks[pid];
            }
        } else {
            return;
        }
        if (summary) render();
    });
    // A device track the page has just exported: the library has changed.
    App.on('libraryChanged', function (track) {
        if (track && typeof track.deviceId === 'string' && track.pid) {
            var tracks = inLibrary[track.deviceId] = inLibrary[track.deviceId] || {};
            tracks[track.pid] = (track.artist ? track.artist + ' - ' : '') + (track.title || track.pid);
        }
        if (!loading) askSummary();
    });
    App.on('deviceAdded', function (device) {
        if (device && typeof device.deviceId === 'string') deviceNames[device.deviceId] = device.name;
    });
    App.on('deviceRemoved', function (device) {
        if (device && inLibrary[device.deviceId]) {
            delete inLibrary[device.deviceId];
            if (summary) render();
        }
    });
})();
