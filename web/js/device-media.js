// Device media: for each connected device, a button that loads its media library, the
// loading steps as they arrive, its playlists and tracks (title, artist, album, duration,
// artwork) read through "/fetch" once loaded, and the tracks the match with the music
// library reports. A track, or a whole playlist one track after another, is exported into
// the music library (into a library playlist when one is chosen, or into the device's own
// playlist of the track), with a progress line and a stop; a track in the library can have
// its tags written onto the library's copy. Each import is told to the page
// ("libraryChanged"), so that what it shows of the library follows.
(function () {
    var libraryPlaylists = [];   // names, from the library summary
    var copies = 0;              // names the progress and stop handlers of each copy
    var temporaryFolder = null;  // Promise of the computer's temporary folder
    var STEPS = { loadingLibrary: 'Loading library…', playlistsLoaded: 'Playlists loaded',
        tracksLoaded: 'Tracks loaded' };

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
        panel.setAttribute('data-kind', device.deviceType === 512 ? 'pod' : 'phone');
        panel.innerHTML = '<h3></h3> <button type="button" class="media-load">Load library</button>' +
            ' <span class="media-step"></span> <span class="media-error error"></span>' +
            '<div class="media-export-bar"><label>Export into <select class="media-target"></select></label>' +
            ' <span class="media-export"></span></div>' +
            '<ul class="media-playlists"></ul>' +
            '<table class="media-tracks"><thead><tr><th></th><th>Title</th><th>Artist</th>' +
            '<th>Album</th><th>Duration</th><th>Library</th><th></th></tr></thead><tbody></tbody></table>';
        panel.querySelector('h3').textContent = device.name || 'Device';
        panel.querySelector('.media-load').addEventListener('click', function () {
            showError(panel, '');
            App.call('load-device-library', { deviceId: id }).catch(function (e) { showError(panel, e); });
        });
        area().appendChild(panel);
        fillTargets(panel);
    }

    // The library playlists a device track can be exported into, or the device's own
    // playlist (the library makes one of that name when it has none).
    function fillTargets(panel) {
        var target = panel.querySelector('.media-target');
        var chosen = target.selectedOptions[0];
        var fromDevice = !!(chosen && chosen.dataset.device);
        var name = chosen && !fromDevice ? chosen.value : '';
        var device = new Option('the library and the device\'s playlist', '');
        device.dataset.device = 'yes';
        target.replaceChildren(new Option('the library only', ''), device);
        libraryPlaylists.forEach(function (name) { target.appendChild(new Option('the library and ' + name, name)); });
        if (fromDevice) device.selected = true;
        else target.value = libraryPlaylists.indexOf(name) >= 0 ? name : '';
    }

    // What "device-additunes" is told of the chosen target: a library playlist's name, or
    // the device's playlist (`devicePlaylist`, or the first that holds the track).
    function targetArguments(panel, devicePlaylist) {
        var target = panel.querySelector('.media-target');
        var chosen = target.selectedOptions[0];
        if (chosen && chosen.dataset.device) {
            return devicePlaylist ? { addToPlaylist: true, playlist: devicePlaylist } : { addToPlaylist: true };
        }
        return { addToPlaylist: !!target.value, playlist: target.value };
    }

    function removeDevice(device) {
        var panel = panelOf(device && device.deviceId);
        if (panel) panel.remove();
        if (!area().children.length) area().innerHTML = '<p class="empty">No device connected.</p>';
    }

    // `pid` is the track's id as decimal text, which the device commands look it up by.
    // Rows are keyed by it, so that the load's records and the match's reports of one
    // track meet in one row.
    function showTrack(panel, track, pid) {
        var body = panel.querySelector('tbody');
        var row = body.querySelector('[data-pid="' + CSS.escape(pid) + '"]');
        if (!row) {
            row = document.createElement('tr');
            row.setAttribute('data-pid', pid);
            row.innerHTML = '<td class="media-art"></td><td></td><td></td><td></td><td></td>' +
                '<td class="media-state"></td><td class="media-actions"></td>';
            body.appendChild(row);
            addActions(panel, row);
        }
        row.setAttribute('data-track', pid);
        if (track.location) row.setAttribute('data-location', track.location);
        var cells = row.children;
        cells[1].textContent = track.title || '';
        cells[2].textContent = track.artist || '';
        cells[3].textContent = track.album || '';
        cells[4].textContent = duration(track.length);
        if (track.macpath || track.copied === true || track.status === 'copied') markCopied(row);
        return row;
    }

    function markCopied(row) {
        row.classList.add('in-library');
        row.querySelector('.media-state').textContent = 'copied';
        row.querySelector('.media-tags').hidden = false;
    }

    function addActions(panel, row) {
        var actions = row.querySelector('.media-actions');
        var send = document.createElement('button');
        send.type = 'button';
        send.className = 'media-send';
        send.textContent = 'Export';
        send.addEventListener('click', function () { exportTracks(panel, [row]); });
        var tags = document.createElement('button');
        tags.type = 'button';
        tags.className = 'media-tags';
        tags.textContent = 'Write tags';
        tags.hidden = true;
        tags.addEventListener('click', function () { writeTags(panel, row); });
        actions.append(send, tags);
    }

    function mdfs(panel, cmd, row, more) {
        var data = { cmd: cmd, udid: panel.getAttribute('data-id'), path: row.getAttribute('data-location') || '/',
            pid: row.getAttribute('data-track') };
        Object.keys(more || {}).forEach(function (key) { data[key] = more[key]; });
        return App.call('mdfs', data);
    }

    function writeTags(panel, row) {
        showError(panel, '');
        row.querySelector('.media-state').textContent = 'writing tags…';
        mdfs(panel, 'device-update-track-itunes-meta', row).then(function () {
            row.querySelector('.media-state').textContent = 'tags written';
        }).catch(function (error) {
            row.querySelector('.media-state').textContent = 'copied';
            showError(panel, error);
        });
    }

    function localCopyOf(location) {
        if (!temporaryFolder) {
            temporaryFolder = App.call('fs', { cmd: 'common-paths' }).then(function (reply) {
                return reply.data.temporaryPath;
            });
        }
        return temporaryFolder.then(function (folder) {
            var name = location.slice(location.lastIndexOf('/') + 1);
            return App.call('fs', { cmd: 'ensure-filepath', path: folder.replace(/\/+$/, '') + '/' + name });
        }).then(function (reply) { return reply.data.path; });
    }

    // One track: copied to the computer's temporary folder, imported, the copy removed.
    function exportTrack(panel, row, job, devicePlaylist) {
        var location = row.getAttribute('data-location');
        if (!location) return Promise.reject(new Error('The track has no file on the device.'));
        return localCopyOf(location).then(function (local) {
            copies += 1;
            var progress = 'mediaExportProgress' + copies;
            job.stopName = 'mediaExportStop' + copies;
            App.register(progress, function (data) { job.progress((data && data.progress) || {}); });
            var removeCopy = function () { return App.call('fs', { cmd: 'rm', path: local }).catch(function () {}); };
            return App.call('mdfs', { cmd: 'device-download', udid: panel.getAttribute('data-id'), path: location,
                to: local, cb: progress, stopCB: job.stopName }).then(function () {
                job.stopName = '';
                if (job.stopped) throw new Error('stopped');
                var more = targetArguments(panel, devicePlaylist);
                more.localpath = local;
                return mdfs(panel, 'device-additunes', row, more);
            }).then(function (reply) {
                job.already = !!(reply && reply.data && reply.data.alreadyInLibrary);
                markCopied(row);
                var cells = row.children;
                App.emit('libraryChanged', { deviceId: panel.getAttribute('data-id'),
                    pid: row.getAttribute('data-track'), title: cells[1].textContent, artist: cells[2].textContent });
                return removeCopy();
            }, function (error) {
                job.stopName = '';
                return removeCopy().then(function () { throw error; });
            });
        });
    }

    // Tracks one after another, with a progress line and a stop between and during copies.
    function exportTracks(panel, rows, devicePlaylist) {
        var line = panel.querySelector('.media-export');
        if (line.dataset.running) return showError(panel, 'An export is running: stop it or wait for it to end.');
        showError(panel, '');
        line.dataset.running = 'yes';
        var text = document.createElement('span');
        text.className = 'media-export-text';
        var bar = document.createElement('progress');
        var stop = document.createElement('button');
        stop.type = 'button';
        stop.className = 'media-export-stop';
        stop.textContent = 'Stop';
        line.replaceChildren(text, bar, stop);
        var job = { stopped: false, stopName: '', progress: function (report) {
            if (report.total > 0 && report.total >= report.bytes) { bar.max = report.total; bar.value = report.bytes; }
        } };
        stop.addEventListener('click', function () {
            job.stopped = true;
            stop.disabled = true;
            if (job.stopName) App.call(job.stopName, {}).catch(function () {});
        });
        var done = 0, already = 0, failed = 0, firstError = null;
        var next = function (index) {
            if (job.stopped || index >= rows.length) return Promise.resolve(index);
            var row = rows[index];
            text.textContent = 'Exporting ' + (index + 1) + ' of ' + rows.length + ': ' +
                (row.children[1].textContent || 'untitled');
            bar.removeAttribute('value');
            job.already = false;
            return exportTrack(panel, row, job, devicePlaylist).then(function () {
                if (job.already) already += 1;
                else done += 1;
            }, function (error) {
                if (job.stopped) return;
                failed += 1;
                firstError = firstError || error;
            }).then(function () { return next(index + 1); });
        };
        return next(0).then(function () {
            delete line.dataset.running;
            var summary = (job.stopped ? 'Stopped after ' : 'Exported ') + done + ' of ' + rows.length +
                (rows.length === 1 ? ' track' : ' tracks') + '.';
            // A track the library holds already is not copied again: say so rather than
            // count it as exported.
            if (rows.length === 1 && already === 1) {
                summary = '\u201c' + (rows[0].children[1].textContent || 'The track') +
                    '\u201d is already in the library: nothing was copied.';
            } else if (already) {
                summary += ' ' + already + (already === 1 ? ' was' : ' were') +
                    ' already in the library and not copied again.';
            }
            if (failed) summary += ' ' + failed + ' failed: ' + (firstError.message || String(firstError));
            line.replaceChildren(Object.assign(document.createElement('span'),
                { className: 'media-export-text' + (failed ? ' error' : ''), textContent: summary }));
        });
    }

    // null when the device's library has not been loaded (a page started again hears of
    // the devices it missed, loaded or not).
    function fetchJson(action, id) {
        return fetch('/fetch?action=' + action + '&udid=' + encodeURIComponent(id)).then(function (r) {
            if (r.status === 404) return null;
            if (!r.ok) throw new Error('The device\'s ' + action + ' could not be read (' + r.status + ').');
            return r.json();
        });
    }

    // The five playlists every device has (pid 0) hold no track ids of their own, save the
    // ringtones: their members are the tracks of their kind.
    var KIND_OF = {
        1: function (track) { return !track.is_ringtone; },
        3: function (track) { return !!track.is_song; },
        4: function (track) { return !!track.is_movie; },
        7: function (track) { return !!track.is_ringtone; },
        8: function (track) { return !!track.is_podcast; }
    };
    function membersOf(playlist, tracks) {
        var own = (playlist.tracks || []).map(String);
        var kind = KIND_OF[playlist.type];
        if (own.length || String(playlist.pid) !== '0' || !kind || !tracks) return own;
        return tracks.filter(kind).map(function (track) { return String(track.pid); });
    }

    // The device's own ringtones playlist comes misspelt ("Ringtons"); the page names it right.
    function shownName(playlist) {
        if (String(playlist.pid) === '0' && Number(playlist.type) === 7) return 'Ringtones';
        return playlist.name || 'Playlist';
    }

    // `tracks` are the load's records once they are known; until then the common playlists
    // show no count.
    function showPlaylists(panel, id, tracks) {
        // Only the latest answer is shown, whichever order the answers come back in.
        var asked = (panel.playlistsAsked || 0) + 1;
        panel.playlistsAsked = asked;
        fetchJson('playlists', id).then(function (answer) {
            if (panel.playlistsAsked !== asked || !answer) return;
            var list = panel.querySelector('.media-playlists');
            list.replaceChildren();
            (answer.public || []).concat(answer.user || []).forEach(function (playlist) {
                if (playlist.hidden) return;
                var members = membersOf(playlist, tracks);
                var counted = tracks || String(playlist.pid) !== '0' || !KIND_OF[playlist.type];
                var item = document.createElement('li');
                item.setAttribute('data-playlist', playlist.name || '');
                var name = shownName(playlist);
                item.textContent = name + (counted ? ' (' + members.length + ') ' : ' ');
                var send = document.createElement('button');
                send.type = 'button';
                send.className = 'media-send-playlist';
                send.textContent = 'Export';
                send.addEventListener('click', function () {
                    var rows = members.map(function (pid) {
                        return panel.querySelector('tbody [data-track="' + CSS.escape(pid) + '"]');
                    }).filter(Boolean);
                    if (!rows.length) return showError(panel, 'None of the playlist\'s tracks is listed yet.');
                    exportTracks(panel, rows, name);
                });
                item.appendChild(send);
                list.appendChild(item);
            });
        }).catch(function (e) { showError(panel, e); });
    }

    // The load's tracks, then the playlists counted from them, and what the load found.
    function showTracks(panel, id) {
        var asked = (panel.tracksAsked || 0) + 1;
        panel.tracksAsked = asked;
        fetchJson('tracks', id).then(function (answer) {
            if (panel.tracksAsked !== asked || !answer) return;
            var records = answer.records || [];
            records.forEach(function (track) {
                var row = showTrack(panel, track, String(track.pid));
                var art = row.querySelector('.media-art');
                if (art.firstChild) return;
                var image = document.createElement('img');
                image.alt = '';
                image.src = '/fetch?action=artwork&udid=' + encodeURIComponent(id) + '&pid=' +
                    encodeURIComponent(track.pid);
                // Tracks without artwork keep an empty cell.
                image.onerror = function () { image.remove(); };
                art.appendChild(image);
            });
            showCount(panel);
            showPlaylists(panel, id, records);
            return showOutcome(panel, answer);
        }).catch(function (e) { showError(panel, e); });
    }

    function showCount(panel) {
        var count = panel.querySelectorAll('tbody tr').length;
        panel.querySelector('.media-tracks').style.display = count ? 'table' : 'none';
    }

    // What the load came to, in words: the library could not be read (and why), the device
    // keeps none, or how many tracks it holds and whether they are matched yet.
    function showOutcome(panel, answer) {
        var kind = panel.getAttribute('data-kind');
        if (answer.error) {
            panel.outcome = { failed: true };
            showStepText(panel);
            tellOutcome(panel, 'library not loaded', true);
            var reason = 'The library could not be loaded: ' + answer.error + '.';
            if (kind === 'pod') return showError(panel, reason);
            // A phone that does not trust this computer shows none of its files.
            return App.call('mdfs', { cmd: 'device-is-paired', udid: panel.getAttribute('data-id') }).then(function (reply) {
                var paired = reply.data && reply.data.paired;
                showError(panel, paired === false ? 'The library could not be loaded: the phone is not paired ' +
                    'with this computer. Pair it under Devices, then load its library again.' : reason);
            }, function () { showError(panel, reason); });
        }
        panel.outcome = { none: answer.library === '', total: Number(answer.total) || 0 };
        showStepText(panel);
    }
    function tellOutcome(panel, text, failed) {
        App.emit('deviceLibraryOutcome', { deviceId: panel.getAttribute('data-id'), text: text, failed: !!failed });
    }

    function showStepText(panel) {
        var step = panel.querySelector('.media-step');
        var outcome = panel.outcome;
        var text = STEPS[panel.lastStep] || '';
        step.classList.remove('none');
        if (outcome && outcome.failed) {
            text = '';
        } else if (outcome && outcome.none) {
            text = (panel.getAttribute('data-kind') === 'pod' ? 'The device' : 'The phone') + ' has no media library.';
            step.classList.add('none');
        } else if (outcome) {
            text = outcome.total + (outcome.total === 1 ? ' track' : ' tracks') +
                (panel.hasAttribute('data-matched') ? ', matched with the music library' :
                    ', matching with the music library\u2026');
        }
        step.textContent = text;
        if (outcome && !outcome.failed) tellOutcome(panel, outcome.none ? 'no media library' : text);
    }

    function showStep(data) {
        var panel = panelOf(data && data.deviceId);
        if (!panel) return;
        if (data.step === 'loadingLibrary') {
            panel.querySelector('tbody').innerHTML = '';
            panel.querySelector('.media-playlists').replaceChildren();
            panel.removeAttribute('data-matched');
            panel.outcome = null;
            showError(panel, '');
        }
        if (data.step === 'playlistsLoaded') showPlaylists(panel, data.deviceId);
        // The playlists' members are known only once the tracks are: they are asked again
        // with the tracks.
        if (data.step === 'tracksLoaded') showTracks(panel, data.deviceId);
        if (data.step === 'matching') panel.setAttribute('data-matched', '');
        if (data.step === 'updateTrack') {
            if (data.track) showTrack(panel, data.track, String(data.track.pidstr));
        } else {
            // The load's end and the match's may come in either order: the text waits for
            // the load's outcome before it speaks of a match.
            if (STEPS[data.step]) panel.lastStep = data.step;
            showStepText(panel);
        }
        showCount(panel);
    }

    // The library's playlists come from its summary ("itunes"), asked once the library has
    // loaded and at every page start, since a reloaded page hears no "iTunesLoaded" again.
    function askLibraryPlaylists() {
        App.event('itunes', 'library-summary').then(function (reply) {
            var summary = reply.data || {};
            libraryPlaylists = (summary.playlists || []).map(function (playlist) { return playlist.name; })
                .filter(function (name) { return typeof name === 'string' && name; });
            Array.prototype.forEach.call(area().querySelectorAll('.media-device'), fillTargets);
        }, function () { /* no library yet: nothing to offer */ });
    }
    App.on('iTunesLoaded', askLibraryPlaylists);
    App.on('libraryChanged', askLibraryPlaylists);
    App.ready(askLibraryPlaylists);
    App.on('deviceAdded', addDevice);
    App.on('deviceRemoved', removeDevice);
    App.on('deviceMediaLoading', showStep);
})();
