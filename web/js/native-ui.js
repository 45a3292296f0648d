// Native menus, panels and the clipboard, for every section. Load after bridge.js.
//
//   App.ui.contextMenu(items, at)      -> Promise of {tag, id} of the chosen item, or null
//       items: [{title, id, tag, disabled, checked, key, tooltip, items: [...]}, {title: '-'}]
//       at: the mouse event that asked for the menu, or {x, y} in page points
//   App.ui.chooseFolder(options)       -> Promise of a folder path, or null when cancelled
//   App.ui.chooseFiles(options)        -> Promise of a list of file paths, or null
//       options (both): {caption, prompt, multiple, filter: ['mp3', 'm4a']}
//   App.ui.chooseSavePath(name, opts)  -> Promise of the path to save to, or null
//   App.ui.copyText(text)              -> Promise, settled once the text is on the clipboard
//   App.ui.copiedFiles()               -> Promise of the paths of files copied elsewhere ([])
//   App.ui.openURL(url)                -> Promise, rejects when it cannot be opened
//   App.ui.fileEntryMenu(element, path, more)
//       a right click on `element` offers "Copy path", "Show log" and the `more` entries
//       ({title, run}); errors are shown in the element's section
//   App.ui.onShowLog(fn)               -> fn() runs for "Show log" (the About section sets it)
//   App.ui.openDeviceWindow(device)    -> opens window.html for a device summary in a window
//       of its own (480 by 360, resizable, a little below and right of this one)
(function () {
    function cancelledAs(value) {
        return function (error) {
            if (error && error.reply && error.reply.result === false && !error.reply.error) {
                return value;
            }
            throw error;
        };
    }

    function filters(list) {
        return (list || []).map(function (ext) { return { ext: ext }; });
    }

    function choose(data) {
        data.cmd = 'choose-file';
        return App.call('dialog', data).then(function (reply) { return reply.path; },
            cancelledAs(null));
    }

    var showLog = null;

    // Shows an error in the section the element belongs to (or in the events list).
    function showError(element, error) {
        var section = element && element.closest ? element.closest('section') : null;
        var text = 'Error: ' + (error && error.message ? error.message : String(error));
        if (!section) { App.logEvent('error', text); return; }
        var line = section.querySelector('.ui-error');
        if (!line) {
            line = document.createElement('p');
            line.className = 'error ui-error';
            section.appendChild(line);
        }
        line.textContent = text;
    }

    App.ui = {
        contextMenu: function (items, at) {
            var point = { x: Math.round((at && (at.clientX !== undefined ? at.clientX : at.x)) || 0),
                y: Math.round((at && (at.clientY !== undefined ? at.clientY : at.y)) || 0) };
            return App.call('contextmenu', { id: 'page-menu', items: items, location: point })
                .then(function (reply) {
                    return reply && reply.id !== undefined ? reply : null;
                });
        },
        chooseFolder: function (options) {
            options = options || {};
            return choose({ folder: true, caption: options.caption || 'Choose a folder',
                prompt: options.prompt || 'Choose', newfolder: true })
                .then(function (paths) { return paths ? paths[0] : null; });
        },
        chooseFiles: function (options) {
            options = options || {};
            var data = { multiple: !!options.multiple, filter: filters(options.filter) };
            if (options.caption) data.caption = options.caption;
            if (options.prompt) data.prompt = options.prompt;
            return choose(data);
        },
        chooseSavePath: function (name, options) {
            options = options || {};
            var data = { save: true, filename: name || '', newfolder: true };
            if (options.caption) data.caption = options.caption;
            return choose(data);
        },
        copyText: function (text) {
            return App.event('pasteboard', 'write', { type: 'text', value: String(text) });
        },
        copiedFiles: function () {
            return App.event('pasteboard', 'read').then(function (reply) { return reply.data; },
                cancelledAs([]));
        },
        openURL: function (url) {
            return App.event('system', 'openurl', { url: url }).then(null, function (error) {
                if (error.reply && !error.reply.error) throw new Error('Cannot open ' + url);
                throw error;
            });
        },
        fileEntryMenu: function (element, path, more) {
            element.addEventListener('contextmenu', function (event) {
                event.preventDefault();
                var items = [{ title: 'Copy path', id: 'copy-path' },
                    { title: 'Show log', id: 'show-log' }];
                (more || []).forEach(function (entry, index) {
                    if (index === 0) items.push({ title: '-' });
                    items.push({ title: entry.title, id: 'more-' + index });
                });
                App.ui.contextMenu(items, event).then(function (chosen) {
                    if (!chosen) return null;
                    if (chosen.id === 'copy-path') return App.ui.copyText(path);
                    if (chosen.id === 'show-log') return showLog ? showLog() : null;
                    var entry = (more || [])[Number(chosen.id.slice(5))];
                    return entry && entry.run ? entry.run(path) : null;
                }).catch(function (error) { showError(element, error); });
            });
        },
        onShowLog: function (fn) { showLog = fn; },
        openDeviceWindow: function (device) {
            var query = new URLSearchParams();
            ['name', 'model', 'osversion', 'serial', 'deviceId'].forEach(function (key) {
                if (device && device[key] !== undefined) query.set('device-' + key, device[key]);
            });
            query.set('name', 'device-' + (device && device.deviceId || ''));
            var left = Math.round(window.screenX + 60);
            var top = Math.round(window.screenY + 60);
            window.open('window.html?' + query.toString(), '',
                'left=' + left + ',top=' + top + ',width=480,height=360,resizable');
        },
        showError: showError
    };
})();
