// About: the application and the computer, the newest log lines and crash report, and a
// computer folder picked through the native panel, with its file-entry menu.
(function () {
    var LOG_LINES = 40;

    function root() { return document.getElementById('about'); }
    function part(name) { return root().querySelector('[data-part="' + name + '"]'); }

    function element(tag, className, text) {
        var made = document.createElement(tag);
        if (className) made.className = className;
        if (text !== undefined) made.textContent = text;
        return made;
    }

    function showError(where, error) {
        where.textContent = '';
        where.appendChild(element('span', 'error', 'Error: ' + error.message));
    }

    function gibibytes(bytes) {
        return (Number(bytes) / 1073741824).toFixed(1) + ' GiB';
    }

    function row(table, label, value) {
        var line = element('tr');
        line.appendChild(element('th', '', label));
        var cell = element('td');
        if (value instanceof Node) cell.appendChild(value); else cell.textContent = value;
        line.appendChild(cell);
        table.appendChild(line);
    }

    function link(text, url) {
        var anchor = element('a', '', text);
        anchor.href = '#';
        anchor.addEventListener('click', function (event) {
            event.preventDefault();
            App.ui.openURL(url).catch(function (error) { App.ui.showError(anchor, error); });
        });
        return anchor;
    }

    function showFacts(app, system) {
        var info = app.data.info || {};
        var os = system.data.osversion || {};
        var table = element('table', 'facts');
        row(table, 'Application', (info.CFBundleName || 'Orvandel') + ' ' +
            (info.CFBundleShortVersionString || ''));
        row(table, 'Identifier', app.data.id || '');
        row(table, 'System', 'Linux ' + [os.major, os.minor, os.patch].join('.'));
        row(table, 'Processor', system.data.cpu || 'Unknown');
        row(table, 'Memory', gibibytes(system.data.ram));
        if (system.data.serial) row(table, 'Serial number', system.data.serial);
        if (info.CFBundleURLSupport) row(table, 'Support', link(info.CFBundleURLSupport, info.CFBundleURLSupport));
        if (info.CFBundleEmailSupport) {
            row(table, 'E-mail', link(info.CFBundleEmailSupport, 'mailto:' + info.CFBundleEmailSupport));
        }
        part('facts').textContent = '';
        part('facts').appendChild(table);
    }

    // The log's pieces each carry the line feed before them; blank pieces are dropped.
    function logLines(text) {
        return String(text || '').split(/\r?\n/).filter(function (line) { return line.length; });
    }

    function loadLog() {
        var view = part('log');
        view.textContent = 'Loading…';
        return App.event('app', 'get-log', { type: 'app', lines: LOG_LINES }).then(function (reply) {
            var lines = logLines(reply.data.app);
            view.textContent = lines.length ? lines.join('\n') : 'The log is empty.';
            view.scrollTop = view.scrollHeight;
        }, function (error) { showError(view, error); });
    }

    function loadCrash() {
        var view = part('crash');
        view.hidden = false;
        view.textContent = 'Loading…';
        App.event('app', 'get-log', { type: 'crash' }).then(function (reply) {
            view.textContent = reply.data.crash || 'No crash report.';
        }, function (error) { showError(view, error); });
    }

    function showFolder(path) {
        var entry = part('folder');
        entry.textContent = '';
        var name = element('span', 'file-entry', path);
        name.title = 'Right-click for more';
        App.ui.fileEntryMenu(name, path);
        var copy = element('button', '', 'Copy path');
        copy.addEventListener('click', function () {
            App.ui.copyText(path).then(function () {
                part('status').textContent = 'Path copied.';
            }, function (error) { showError(part('status'), error); });
        });
        entry.appendChild(name);
        entry.appendChild(copy);
    }

    function build() {
        root().innerHTML =
            '<div data-part="facts">Loading…</div>' +
            '<h3>Computer folder</h3>' +
            '<p><button data-part="choose">Choose folder…</button> <span data-part="folder"' +
            ' class="empty">No folder chosen.</span></p><p data-part="status"></p>' +
            '<h3>Newest log lines <button data-part="refresh">Refresh</button>' +
            ' <button data-part="show-crash">Newest crash report</button></h3>' +
            '<pre data-part="log" class="log"></pre><pre data-part="crash" class="log" hidden></pre>';
        part('refresh').addEventListener('click', loadLog);
        part('show-crash').addEventListener('click', loadCrash);
        part('choose').addEventListener('click', function () {
            App.ui.chooseFolder({ caption: 'Choose a computer folder' }).then(function (path) {
                if (path) showFolder(path);
            }, function (error) { showError(part('status'), error); });
        });
    }

    build();
    App.ui.onShowLog(function () {
        part('log').scrollIntoView();
        return loadLog();
    });
    App.ready(function () {
        Promise.all([App.event('app', 'info'), App.event('system', 'get-sysinfo')])
            .then(function (replies) { showFacts(replies[0], replies[1]); },
                function (error) { showError(part('facts'), error); });
        loadLog();
    });
})();
