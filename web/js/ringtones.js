// Ringtones: cut a span of an audio file on the computer into a ringtone (.m4r).
(function () {
    var musicFolder = null;  // a Promise of the user's Music folder, once the bridge is up

    function el(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }
    function field(form, name, label, type, placeholder) {
        var row = el('label', 'rt-row');
        row.appendChild(el('span', '', label));
        var input = el('input', 'rt-' + name);
        input.type = type || 'text';
        if (type === 'number') { input.min = '0'; input.step = '0.1'; }
        if (placeholder) input.placeholder = placeholder;
        row.appendChild(input);
        form.appendChild(row);
        return input;
    }
    function root() { return document.getElementById('ringtones'); }
    function part(name) { return root().querySelector('.rt-' + name); }
    function status(text, isError) {
        var line = part('status');
        line.className = 'rt-status' + (isError ? ' error' : '');
        line.textContent = text;
    }
    function fail(error) { status(error.message || String(error), true); }

    function baseName(path) {
        var name = path.replace(/\/+$/, '').split('/').pop();
        return name.replace(/\.[^.]*$/, '') || name;
    }

    // Proposes a free name for the ringtone in the Music folder.
    function proposeDestination(title) {
        return musicFolder.then(function (folder) {
            if (!folder || !title) return;
            var wanted = folder.replace(/\/+$/, '') + '/' + title.replace(/\//g, '-') + '.m4r';
            return App.call('fs', { cmd: 'ensure-filepath', path: wanted }).then(function (reply) {
                part('dest').value = reply.data.path;
            });
        });
    }

    function readSource() {
        var source = part('source').value;
        if (!source) return status('Name an audio file first.', true);
        status('Reading…');
        App.event('ringtone', 'get-meta', { info: source }).then(function (reply) {
            var info = reply.data || {};
            if (!info.readable) throw new Error('The file cannot be read as audio.');
            var seconds = Number(info.duration || 0);
            part('info').textContent = (info.title ? '“' + info.title + '”, ' : '') +
                seconds.toFixed(1) + ' s' + (info.protected ? ', protected' : '') +
                (info.exportable ? '' : ', cannot be exported');
            part('start').value = '0';
            part('end').value = Math.min(seconds, 30).toFixed(1);
            part('title').value = part('title').value || info.title || baseName(source);
            status('');
            return part('dest').value ? null : proposeDestination(part('title').value);
        }).catch(fail);
    }

    function cut(event) {
        event.preventDefault();
        var data = {
            source: part('source').value,
            dest: part('dest').value,
            title: part('title').value,
            start: Number(part('start').value || 0),
            end: Number(part('end').value || 0)
        };
        if (!data.source || !data.dest) {
            return status('Name the audio file and where to save the ringtone.', true);
        }
        if (!/\.m4r$/i.test(data.dest)) data.dest += '.m4r';
        part('cut').disabled = true;
        status('Cutting…');
        App.event('ringtone', 'convert', data).then(function () {
            status('Saved ' + data.dest);
            var files = App.computerFiles;
            if (files && files.folder()) files.open(files.folder());
        }).catch(fail).then(function () { part('cut').disabled = false; });
    }

    App.ready(function () {
        var form = el('form', 'rt-form');
        field(form, 'source', 'Audio file', 'text', '/path/to/song.mp3');
        var read = el('button', 'rt-read', 'Read');
        read.type = 'button';
        read.addEventListener('click', readSource);
        form.querySelector('.rt-row').appendChild(read);
        form.appendChild(el('p', 'rt-info'));
        field(form, 'start', 'Start (s)', 'number');
        field(form, 'end', 'End (s, 0 = to the end)', 'number');
        field(form, 'title', 'Title');
        field(form, 'dest', 'Save as', 'text', '/path/to/ringtone.m4r');
        form.appendChild(el('button', 'rt-cut', 'Cut ringtone'));
        form.appendChild(el('p', 'rt-status'));
        form.addEventListener('submit', cut);
        root().appendChild(form);
        musicFolder = App.call('fs', { cmd: 'common-paths' }).then(function (reply) {
            return (reply.data && reply.data.musicPath) || '';
        }, function (error) {
            fail(error);
            return '';
        });
    });
})();
