// The computer's files: the user's common folders as starting points, then one folder at a
// time. A chosen file or the open folder is one end of a copy (App.computerFiles); a
// chosen file can be edited as text.
(function () {
    var PLACES = [['homePath', 'Home'], ['desktopPath', 'Desktop'], ['documentsPath', 'Documents'],
        ['downloadPath', 'Downloads'], ['musicPath', 'Music'], ['picturesPath', 'Pictures'],
        ['publicPath', 'Public'], ['appSupportPath', 'Application data'], ['cachePath', 'Caches'],
        ['temporaryPath', 'Temporary']];
    var state = { folder: '', selected: '' };

    function el(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }
    function root() { return document.getElementById('computer-files'); }
    function part(name) { return root().querySelector('.' + name); }

    function showStatus(text, isError) {
        var line = part('cf-status');
        line.className = 'cf-status' + (isError ? ' error' : '');
        line.textContent = text;
    }
    function showError(error) { showStatus(error.message || String(error), true); }

    function parentOf(path) {
        var trimmed = path.replace(/\/+$/, '');
        var cut = trimmed.lastIndexOf('/');
        return cut <= 0 ? '/' : trimmed.slice(0, cut);
    }
    function join(folder, name) { return folder.replace(/\/+$/, '') + '/' + name; }

    function select(path, row) {
        state.selected = path;
        Array.prototype.forEach.call(part('cf-list').querySelectorAll('.selected'), function (r) {
            r.classList.remove('selected');
        });
        if (row) row.classList.add('selected');
        part('cf-delete').disabled = !path;
        part('cf-edit').disabled = !path;
    }

    function entryRow(entry) {
        var row = el('li', entry.isdir ? 'cf-folder' : 'cf-file');
        row.setAttribute('data-path', entry.fullpath);
        row.appendChild(el('span', 'cf-icon' + (entry.symlink ? ' cf-link' : '')));
        row.appendChild(el('span', 'cf-name', entry.name));
        if (entry.readable === false) row.appendChild(el('span', 'cf-flag', 'not readable'));
        else if (entry.writable === false) row.appendChild(el('span', 'cf-flag', 'read-only'));
        row.addEventListener('click', function () {
            if (entry.isdir) return open(entry.fullpath);
            if (!entry.symlink) return select(entry.fullpath, row);
            // A link is opened when it leads to a folder, chosen otherwise.
            App.call('fs', { cmd: 'path-exists', path: entry.fullpath }).then(function (reply) {
                if (reply.isdir) open(entry.fullpath); else select(entry.fullpath, row);
            }, showError);
        });
        return row;
    }

    function open(folder) {
        return App.call('fs', { cmd: 'ls', path: folder }).then(function (reply) {
            state.folder = folder;
            select('');
            part('cf-path').value = folder;
            var entries = (reply.data || []).slice().sort(function (a, b) {
                if (a.isdir !== b.isdir) return a.isdir ? -1 : 1;
                return a.name.localeCompare(b.name);
            });
            var list = part('cf-list');
            list.innerHTML = '';
            if (folder !== '/') {
                var up = el('li', 'cf-folder cf-up');
                up.appendChild(el('span', 'cf-icon'));
                up.appendChild(el('span', 'cf-name', '..'));
                up.addEventListener('click', function () { open(parentOf(folder)); });
                list.appendChild(up);
            }
            entries.forEach(function (entry) { list.appendChild(entryRow(entry)); });
            showStatus(entries.length + (entries.length === 1 ? ' item' : ' items'));
        }, showError);
    }

    // A folder of the name typed beside the button; without a name, the first free
    // "New Folder". A name that is taken is refused.
    function newFolder() {
        if (!state.folder) return;
        var field = part('cf-new-name');
        var name = field.value.trim();
        if (name.indexOf('/') >= 0 || name === '.' || name === '..') {
            return showError(new Error('A folder name cannot be “' + name + '” or hold “/”.'));
        }
        var made = name ?
            App.call('fs', { cmd: 'path-exists', path: join(state.folder, name) }).then(function () {
                throw new Error('“' + name + '” already exists.');
            }, function (error) {
                if (error.reply && error.reply.result === false && !error.reply.error) return join(state.folder, name);
                throw error;
            }) :
            App.call('fs', { cmd: 'ensure-filepath', path: join(state.folder, 'New Folder'), dir: true })
                .then(function (reply) { return reply.data.path; });
        made.then(function (path) { return App.call('fs', { cmd: 'mkdir', path: path }); })
            .then(function () {
                field.value = '';
                return open(state.folder);
            })
            .catch(showError);
    }

    function deleteSelected() {
        var path = state.selected;
        if (!path || !window.confirm('Delete ' + path + '?')) return;
        App.call('fs', { cmd: 'rm', path: path }).then(function () {
            return open(state.folder);
        }).catch(showError);
    }

    // The computer's side of the text view: no rename here, so the file is written again
    // once its saved copy is whole.
    var textSide = {
        read: function (path, length) {
            return App.call('fs', { cmd: 'readfile', path: path, offset: 0, length: length })
                .then(function (reply) { return reply.data.bytes; });
        },
        write: function (path, bytes) { return App.call('fs', { cmd: 'writefile', path: path, bytes: bytes }); },
        remove: function (path) { return App.call('fs', { cmd: 'rm', path: path }); },
        sibling: function (path) {
            return App.call('fs', { cmd: 'ensure-filepath', path: path + '.saving' })
                .then(function (reply) { return reply.data.path; });
        }
    };
    function editSelected() {
        if (state.selected) App.textView(part('cf-viewer'), state.selected, textSide);
    }

    function build(paths) {
        var box = root();
        box.innerHTML = '';
        var places = el('div', 'cf-places');
        PLACES.forEach(function (place) {
            var path = paths[place[0]];
            if (!path) return;
            var button = el('button', '', place[1]);
            button.title = path;
            button.setAttribute('data-key', place[0]);
            button.addEventListener('click', function () { open(path); });
            places.appendChild(button);
        });
        box.appendChild(places);
        var bar = el('form', 'cf-bar');
        var field = el('input', 'cf-path');
        field.type = 'text';
        field.setAttribute('aria-label', 'Folder');
        bar.appendChild(field);
        bar.appendChild(el('button', '', 'Go'));
        var folderName = el('input', 'cf-new-name');
        folderName.type = 'text';
        folderName.placeholder = 'New folder name';
        folderName.setAttribute('aria-label', 'New folder name');
        folderName.addEventListener('keydown', function (e) {
            if (e.key !== 'Enter') return;
            e.preventDefault();
            newFolder();
        });
        bar.appendChild(folderName);
        var make = el('button', 'cf-new', 'New folder');
        make.type = 'button';
        make.addEventListener('click', newFolder);
        bar.appendChild(make);
        var remove = el('button', 'cf-delete', 'Delete');
        remove.type = 'button';
        remove.disabled = true;
        remove.addEventListener('click', deleteSelected);
        bar.appendChild(remove);
        var edit = el('button', 'cf-edit', 'Edit as text');
        edit.type = 'button';
        edit.disabled = true;
        edit.addEventListener('click', editSelected);
        bar.appendChild(edit);
        bar.addEventListener('submit', function (e) {
            e.preventDefault();
            if (field.value) open(field.value);
        });
        box.appendChild(bar);
        box.appendChild(el('ul', 'cf-list'));
        box.appendChild(el('p', 'cf-status'));
        box.appendChild(el('div', 'cf-viewer'));
        return open(paths.homePath || '/');
    }

    window.App.computerFiles = {
        folder: function () { return state.folder; },
        selected: function () { return state.selected; },
        open: open
    };

    App.ready(function () {
        App.call('fs', { cmd: 'common-paths' }).then(function (reply) {
            return build(reply.data || {});
        }).catch(function (error) {
            root().innerHTML = '';
            root().appendChild(el('p', 'error', error.message || String(error)));
        });
    });
})();
