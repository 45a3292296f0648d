// A device's files through "mdfs": pick a device (here or by clicking it in the device
// list), walk its media folders (folders first, with sizes and dates), open a property
// list or an SQLite file as a table, edit a text file, make folders, rename and delete
// folders and files (never over something that is already there), and pick a file to copy
// to the computer.
(function () {
    var state = { udid: '', path: '/', picked: null, viewing: '' };
    var devices = {};
    var SQLITE = /\.(sqlite|sqlitedb|db|sqlite3)$/i;
    var PLIST = /\.(plist|strings)$/i;
    var PICTURE = /\.(png|jpe?g|gif)$/i;
    var AUDIO = /\.(mp3|m4a|m4r|aac|wav|ogg)$/i;
    var TEXT = /\.(txt|text|md|csv|log|json|xml|html?|css|js|ini|conf|cfg|m3u8?|srt|vtt)$/i;

    function fetchUrl(params) {
        return '/fetch?' + Object.keys(params).map(function (key) {
            return key + '=' + encodeURIComponent(params[key]);
        }).join('&');
    }
    // The icon of an entry's type: folders by their content type, files by extension.
    function typeIcon(record) {
        var dot = record.name.lastIndexOf('.');
        var type = record.isdir ? 'inode/directory' : (dot > 0 ? record.name.slice(dot + 1) : 'application/octet-stream');
        var icon = element('img', 'files-icon');
        icon.alt = '';
        icon.width = icon.height = 16;
        icon.src = fetchUrl({ action: 'iconfortype', type: type, size: 16 });
        // A type the system does not know gets the icon of any file.
        icon.addEventListener('error', function () {
            if (icon.dataset.generic) return icon.remove();
            icon.dataset.generic = 'yes';
            icon.src = fetchUrl({ action: 'iconfortype', type: 'application/x-generic', size: 16 });
        });
        return icon;
    }

    function box() { return document.getElementById('device-files'); }
    function part(selector) { return box().querySelector(selector); }

    function element(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }
    function button(text, onClick) {
        var node = element('button', '', text);
        node.type = 'button';
        node.addEventListener('click', function (event) { event.stopPropagation(); onClick(); });
        return node;
    }

    function sizeText(bytes) {
        if (!bytes) return '0';
        var units = [[1073741824, 'GB'], [1048576, 'MB'], [1024, 'KB']];
        for (var i = 0; i < units.length; i++) {
            if (bytes >= units[i][0]) return (bytes / units[i][0]).toFixed(2) + ' ' + units[i][1];
        }
        return bytes + (bytes === 1 ? ' byte' : ' bytes');
    }
    function dateText(seconds) {
        return seconds ? new Date(seconds * 1000).toLocaleString([], { dateStyle: 'short', timeStyle: 'short' }) : '';
    }
    function joinPath(folder, name) { return (folder === '/' ? '' : folder) + '/' + name; }
    function parentOf(path) { var cut = path.lastIndexOf('/'); return cut <= 0 ? '/' : path.slice(0, cut); }

    function mdfsOn(udid, cmd, path, more) {
        var data = { cmd: cmd, udid: udid, path: path };
        Object.keys(more || {}).forEach(function (key) { data[key] = more[key]; });
        return App.call('mdfs', data);
    }
    function mdfs(cmd, path, more) { return mdfsOn(state.udid, cmd, path, more); }
    // Whether something is at the path: a plain "no" from the device is false.
    function exists(path, udid) {
        return mdfsOn(udid || state.udid, 'device-exists', path).then(function () { return true; }, function (error) {
            if (error.reply && !error.reply.error) return false;
            throw error;
        });
    }
    function refuseIfTaken(path) {
        return exists(path).then(function (taken) {
            if (taken) throw new Error('\u201c' + path.slice(path.lastIndexOf('/') + 1) + '\u201d already exists.');
        });
    }
    function showError(error) { part('.files-message').replaceChildren(element('p', 'error', error.message || String(error))); }
    function showNote(text) { part('.files-message').replaceChildren(element('p', 'empty', text)); }

    function build() {
        box().replaceChildren();
        var bar = element('div', 'files-bar');
        var chooser = element('select', 'files-device');
        chooser.addEventListener('change', function () { choose(chooser.value); });
        var folderName = element('input', 'files-new-name');
        folderName.placeholder = 'New folder name';
        bar.append(chooser, button('Up', function () { open(parentOf(state.path)); }),
            element('code', 'files-path'), folderName,
            button('Create folder', function () { makeFolder(folderName); }));
        box().append(bar, element('div', 'files-message'), element('table', 'files-list'),
            element('div', 'files-viewer'));
        refreshChooser();
    }

    function refreshChooser() {
        var chooser = part('.files-device');
        if (!chooser) return;
        chooser.replaceChildren(element('option', '', 'Choose a device'));
        chooser.firstChild.value = '';
        Object.keys(devices).forEach(function (id) {
            var option = element('option', '', devices[id]);
            option.value = id;
            chooser.appendChild(option);
        });
        chooser.value = state.udid;
    }

    function choose(udid) {
        state.udid = devices[udid] ? udid : '';
        setPicked(null);
        state.viewing = '';
        refreshChooser();
        part('.files-viewer').replaceChildren();
        if (state.udid) open('/');
        else { part('.files-list').replaceChildren(); showNote('Choose a device.'); }
    }

    function open(path) {
        if (path !== state.path) setPicked(null);
        state.path = path;
        part('.files-path').textContent = path;
        showNote('Reading ' + path + '…');
        return mdfs('device-ls', path, { refresh: true }).then(function (reply) {
            part('.files-message').replaceChildren();
            var records = reply.data.isdir ? reply.data.properties : [reply.data.properties];
            showListing(records);
        }).catch(showError);
    }

    function showListing(records) {
        var table = part('.files-list');
        table.replaceChildren();
        var head = element('tr');
        ['Name', 'Size', 'Modified', ''].forEach(function (title) { head.appendChild(element('th', '', title)); });
        table.appendChild(head);
        if (!records.length) showNote('This folder is empty.');
        var stillThere = false;
        records.forEach(function (record) {
            var row = element('tr', record.isdir ? 'folder' : 'file');
            row.setAttribute('data-name', record.name);
            // The icon stays beside the name however the name wraps.
            var name = element('td', 'files-name');
            var label = element('div', 'files-label');
            label.append(typeIcon(record), element('span', '', record.name));
            name.appendChild(label);
            var actions = element('td', 'files-actions');
            if (record.isdir) {
                row.addEventListener('click', function () { open(record.path); });
            } else {
                // A file is picked by a click, for the copies section.
                row.addEventListener('click', function () { pick(record, row); });
                if (state.picked && state.picked.path === record.path) {
                    stillThere = true;
                    setPicked(record);
                    row.classList.add('picked');
                }
                if (PLIST.test(record.name) || SQLITE.test(record.name)) {
                    actions.appendChild(button('Open', function () { openFile(record); }));
                } else if (PICTURE.test(record.name) || AUDIO.test(record.name)) {
                    actions.appendChild(button('Open', function () { openMedia(record); }));
                } else if (TEXT.test(record.name)) {
                    actions.appendChild(button('Edit', function () { openText(record); }));
                }
                if (App.copies) {
                    var copy = button('Copy to computer', function () { pick(record, row); App.copies.download(record); });
                    copy.classList.add('files-copy');
                    actions.appendChild(copy);
                }
            }
            actions.append(button('Rename', function () { startRename(row, record); }),
                button('Delete', function () { confirmDelete(actions, record); }));
            row.append(name, element('td', 'files-size', record.isdir ? '' : sizeText(record.size)),
                element('td', 'files-date', dateText(record.modified)), actions);
            table.appendChild(row);
        });
        if (!stillThere) setPicked(null);
    }

    function setPicked(record) {
        if (!record && !state.picked) return;
        state.picked = record;
        document.dispatchEvent(new CustomEvent('device-file-picked', { detail: record }));
    }
    function pick(record, row) {
        Array.prototype.forEach.call(part('.files-list').querySelectorAll('.picked'), function (other) {
            other.classList.remove('picked');
        });
        row.classList.add('picked');
        setPicked(record);
    }

    function makeFolder(input) {
        var name = input.value.trim();
        if (!name) return showError(new Error('Type a name for the new folder.'));
        var path = joinPath(state.path, name);
        refuseIfTaken(path).then(function () {
            return mdfs('device-newfolder', path);
        }).then(function () {
            input.value = '';
            return open(state.path);
        }).catch(showError);
    }

    function startRename(row, record) {
        var cell = row.querySelector('.files-name');
        var input = element('input', 'files-rename');
        input.value = record.name;
        input.addEventListener('click', function (event) { event.stopPropagation(); });
        var save = function () {
            var name = input.value.trim();
            if (!name || name === record.name) return open(state.path);
            var to = joinPath(state.path, name);
            refuseIfTaken(to).then(function () {
                return mdfs('device-rename', record.path, { to: to });
            }).then(function () { return open(state.path); }).catch(showError);
        };
        // Enter saves the new name, Escape keeps the old one.
        input.addEventListener('keydown', function (event) {
            if (event.key === 'Enter') { event.preventDefault(); save(); }
            else if (event.key === 'Escape') open(state.path);
        });
        cell.replaceChildren(input, button('Save', save));
        input.focus();
        input.select();
    }

    function confirmDelete(actions, record) {
        var question = record.isdir ? 'Delete “' + record.name + '” and all it holds?' :
            'Delete “' + record.name + '”?';
        actions.replaceChildren(element('span', 'files-ask', question),
            button('Delete', function () {
                mdfs('device-delete', record.path, record.isdir ? { recursive: true } : {})
                    .then(function () { return open(state.path); }).catch(showError);
            }),
            button('Keep', function () { open(state.path); }));
    }

    var audioUrl = '';
    // A picture or an audio file from the device, read through "/fetch".
    function openMedia(record) {
        var viewer = part('.files-viewer');
        var media = element(PICTURE.test(record.name) ? 'img' : 'audio', 'files-media');
        var failed = function (text) { viewer.appendChild(element('p', 'error', text)); };
        media.addEventListener('error', function () { failed('The file could not be read from the device.'); });
        var url = fetchUrl({ action: 'file', udid: state.udid, path: record.path });
        state.viewing = '';
        viewer.replaceChildren(element('h3', '', record.name), media);
        if (audioUrl) URL.revokeObjectURL(audioUrl);
        audioUrl = '';
        if (media.tagName === 'IMG') {
            media.src = url;
            return;
        }
        // The browser's media player reads web addresses only, so the page fetches the file
        // and plays it from memory.
        media.controls = true;
        fetch(url).then(function (response) {
            if (!response.ok) throw new Error('The file could not be read from the device (' + response.status + ').');
            return response.blob();
        }).then(function (blob) {
            audioUrl = URL.createObjectURL(blob);
            media.src = audioUrl;
        }).catch(function (error) { failed(error.message); });
    }

    // The device's side of the text view, on the device the file was opened from: a saved
    // copy is renamed over the file.
    function textSide(udid) {
        return {
            read: function (path, length) {
                return mdfsOn(udid, 'device-readfile', path, { offset: 0, length: length })
                    .then(function (reply) { return reply.data.bytes; });
            },
            write: function (path, bytes) { return mdfsOn(udid, 'device-writefile', path, { bytes: bytes }); },
            replace: function (from, to) { return mdfsOn(udid, 'device-rename', from, { to: to }); },
            remove: function (path) { return mdfsOn(udid, 'device-delete', path); },
            saved: function (path) {
                if (udid === state.udid && parentOf(path) === state.path) open(state.path);
            },
            sibling: function (path) {
                var tryName = function (count) {
                    var candidate = path + '.saving' + (count ? '-' + count : '');
                    return exists(candidate, udid).then(function (taken) { return taken ? tryName(count + 1) : candidate; });
                };
                return tryName(0);
            }
        };
    }
    function openText(record) {
        state.viewing = record.path;
        App.textView(part('.files-viewer'), record.path, textSide(state.udid));
    }

    function openFile(record) {
        var viewer = part('.files-viewer');
        state.viewing = '';
        viewer.replaceChildren(element('h3', '', record.name), element('p', 'empty', 'Reading…'));
        var shown = SQLITE.test(record.name) ? showDatabase(record, viewer) :
            mdfs('device-read-plist', record.path).then(function (reply) {
                viewer.lastChild.replaceWith(valueTable(reply.data));
            });
        shown.catch(function (error) { viewer.lastChild.replaceWith(element('p', 'error', error.message)); });
    }

    // A property list as nested key/value tables.
    function valueTable(value) {
        if (value === null || typeof value !== 'object') return document.createTextNode(String(value));
        var table = element('table', 'files-value');
        Object.keys(value).forEach(function (key) {
            var row = element('tr');
            var cell = element('td');
            cell.appendChild(valueTable(value[key]));
            row.append(element('th', '', key), cell);
            table.appendChild(row);
        });
        return table;
    }

    function showDatabase(record, viewer) {
        return mdfs('device-read-sqlite', record.path, { action: 'tables' }).then(function (reply) {
            var tables = reply.data.tables;
            var picker = element('select', 'files-table');
            tables.forEach(function (name) { var option = element('option', '', name); option.value = name; picker.appendChild(option); });
            var rows = element('div', 'files-rows');
            picker.addEventListener('change', function () { showRows(record, picker.value, rows); });
            viewer.lastChild.replaceWith(tables.length ? picker : element('p', 'empty', 'No tables.'));
            viewer.appendChild(rows);
            if (tables.length) return showRows(record, tables[0], rows);
        });
    }

    function showRows(record, table, into) {
        var sql = 'SELECT * FROM "' + table.replace(/"/g, '""') + '" LIMIT 200';
        return mdfs('device-read-sqlite', record.path, { action: 'query', params: { query: sql, fullinfo: true } })
            .then(function (reply) {
                var grid = element('table', 'files-grid');
                reply.data.rows.forEach(function (columns, index) {
                    if (index === 0) {
                        var head = element('tr');
                        columns.forEach(function (column) { head.appendChild(element('th', '', column.name)); });
                        grid.appendChild(head);
                    }
                    var row = element('tr');
                    columns.forEach(function (column) { row.appendChild(element('td', '', String(column.value))); });
                    grid.appendChild(row);
                });
                into.replaceChildren(reply.data.rows.length ? grid : element('p', 'empty', 'The table is empty.'));
            }).catch(function (error) { into.replaceChildren(element('p', 'error', error.message)); });
    }

    // The main window hears "deviceAdded", every window "iDeviceAdded".
    function added(device) {
        if (!device || !device.deviceId) return;
        devices[device.deviceId] = device.name || device.deviceId;
        refreshChooser();
        if (!state.udid) choose(device.deviceId);
    }
    function removed(device) {
        var id = device && device.deviceId;
        if (!devices[id]) return;
        delete devices[id];
        if (id === state.udid) choose('');
        else refreshChooser();
    }
    App.on('deviceAdded', added);
    App.on('iDeviceAdded', added);
    App.on('deviceRemoved', removed);
    App.on('iDeviceRemoved', removed);
    // A click on a device in the device list picks it here too.
    document.addEventListener('click', function (event) {
        var item = event.target.closest && event.target.closest('#devices [data-id]');
        if (item && devices[item.getAttribute('data-id')]) choose(item.getAttribute('data-id'));
    });
    build();
    showNote('Choose a device.');
    // The chosen device, the open folder and the picked file, for the copies section, which
    // tells of files it has put on the device.
    window.App.deviceFiles = {
        udid: function () { return state.udid; },
        folder: function () { return state.path; },
        picked: function () { return state.picked; },
        changed: function (udid, path) {
            if (udid !== state.udid) return;
            if (parentOf(path) === state.path) open(state.path);
            if (state.viewing === path) openText({ path: path });
        }
    };
    window.App.sizeText = sizeText;
})();
