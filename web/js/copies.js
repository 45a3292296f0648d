// Copies: the device file picked in the device-files section into the open computer folder,
// a computer file into the device folder open there, each with a progress bar and a stop
// button, asking before a file of the same name is replaced; and an .m4r file installed on
// the device as a ringtone.
(function () {
    var count = 0;

    function box() { return document.getElementById('copies'); }
    function part(selector) { return box().querySelector(selector); }
    function element(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }
    function button(className, text, onClick) {
        var node = element('button', className, text);
        node.type = 'button';
        node.addEventListener('click', onClick);
        return node;
    }
    function field(className, placeholder) {
        var node = element('input', className);
        node.placeholder = placeholder;
        return node;
    }
    function baseName(path) { return path.slice(path.lastIndexOf('/') + 1); }
    function folderOf(path) { var cut = path.lastIndexOf('/'); return cut <= 0 ? '/' : path.slice(0, cut); }
    function joinPath(folder, name) { return folder.replace(/\/+$/, '') + '/' + name; }
    function device() { return App.deviceFiles ? App.deviceFiles.udid() : ''; }
    function sizeText(bytes) { return App.sizeText ? App.sizeText(bytes) : bytes + ' bytes'; }
    function show(className, text) { part('.copies-message').replaceChildren(element('p', className, text)); }
    function showError(error) { show('error', error.message || String(error)); }

    // A finished copy's bar would read as the next action's.
    function clearFinished() {
        var running = part('.copies-running');
        if (running.querySelector('.copies-row[data-finished]')) running.replaceChildren();
    }

    function computerFile() {
        return part('.copies-computer').value || (App.computerFiles ? App.computerFiles.selected() : '');
    }

    // Resolves once the person agrees to replace what is at the target, at once when nothing
    // is there; rejects quietly when they keep it.
    function askBeforeReplacing(taken, to) {
        return taken.then(function (isTaken) {
            if (!isTaken) return;
            return new Promise(function (resolve, reject) {
                var ask = element('div', 'copies-ask');
                ask.append(element('span', '', '\u201c' + baseName(to) + '\u201d is already in ' + folderOf(to) +
                    '. Replace it?'),
                    button('copies-replace', 'Replace', function () { ask.remove(); resolve(); }),
                    button('copies-keep', 'Keep', function () {
                        ask.remove();
                        // A copy still running keeps its bar and its Stop.
                        clearFinished();
                        show('empty', 'Nothing was copied.');
                        reject(null);
                    }));
                part('.copies-message').replaceChildren(ask);
            });
        });
    }

    // One copy with its own progress handler and stop handler names. `size` is the file's
    // size when known; a phone's upload ends with a report of 100 of 100 whatever it moved.
    function copy(cmd, from, to, size) {
        count += 1;
        var progressName = 'copyProgress' + count;
        var stopName = 'copyStop' + count;
        var bar = element('progress', 'copies-bar');
        var text = element('span', 'copies-bytes', '');
        var reports = 0;
        var known = size;
        var stop = button('copies-stop', 'Stop', function () {
            stop.disabled = true;
            App.call(stopName, {}).then(function (reply) {
                if (reply && reply.error) showError(reply.error);
            }).catch(showError);
        });
        var row = element('div', 'copies-row');
        var name = element('span', 'copies-name', baseName(from) + ' \u2192 ' + to);
        name.title = from + ' \u2192 ' + to;
        row.append(name, bar, text, stop);
        part('.copies-running').replaceChildren(row);
        show('empty', 'Copying\u2026');
        var whole = function (bytes) {
            bar.max = Math.max(bytes, 1);
            bar.value = bar.max;
            text.textContent = sizeText(bytes) + ' of ' + sizeText(bytes);
        };
        App.register(progressName, function (data) {
            var progress = (data && data.progress) || {};
            reports += 1;
            row.dataset.reports = reports;
            if (known === undefined && !(progress.bytes === 100 && progress.total === 100)) known = progress.total;
            if (progress.bytes === 100 && progress.total === 100 && known !== undefined && known !== 100) {
                whole(known);
            } else if (progress.total > 0) {
                bar.max = progress.total;
                bar.value = Math.min(progress.bytes, progress.total);
                text.textContent = sizeText(progress.bytes) + ' of ' + sizeText(progress.total);
            }
        });
        return App.call('mdfs', { cmd: cmd, udid: device(), path: from, to: to, cb: progressName, stopCB: stopName })
            .then(function () {
                show('done', 'Copied ' + baseName(from) + ' to ' + to + '.');
                stop.disabled = true;
                if (known !== undefined) whole(known);
                return true;
            }).catch(function (error) {
                showError(stop.disabled ? new Error('The copy was stopped.') : error);
                stop.disabled = true;
                return false;
            }).then(function (copied) {
                row.dataset.finished = 'yes';
                if (copied && cmd === 'device-upload') settleUpload(to, whole);
                return copied;
            });
    }

    // The device's own size of the uploaded file, and the device-files section told of it.
    function settleUpload(to, whole) {
        var udid = device();
        App.call('mdfs', { cmd: 'device-ls', udid: udid, path: to })
            .then(function (reply) {
                var record = reply.data && reply.data.properties;
                if (record && !reply.data.isdir) whole(record.size || 0);
            }).catch(function () {}).then(function () {
                if (App.deviceFiles) App.deviceFiles.changed(udid, to);
            });
    }

    function download(record) {
        clearFinished();
        record = record || (App.deviceFiles && App.deviceFiles.picked());
        if (!device()) return showError('Choose a device in the device files section first.');
        if (!record) return showError('Pick a file in the device files list first.');
        var folder = App.computerFiles ? App.computerFiles.folder() : '';
        if (!folder) return showError('Open a folder in the computer files section first.');
        var to = joinPath(folder, record.name);
        var taken = App.call('fs', { cmd: 'path-exists', path: to }).then(function () { return true; }, function () { return false; });
        askBeforeReplacing(taken, to).then(function () {
            return copy('device-download', record.path, to, record.size);
        }).then(function (copied) {
            if (copied && App.computerFiles) App.computerFiles.open(folder);
        }, function (error) { if (error) showError(error); });
    }

    function upload() {
        clearFinished();
        var from = computerFile();
        if (!device()) return showError('Choose a device in the device files section first.');
        if (!from) return showError('Choose a computer file to copy, or type its path.');
        var folder = App.deviceFiles ? App.deviceFiles.folder() : '/';
        var to = joinPath(folder || '/', baseName(from));
        var taken = App.call('mdfs', { cmd: 'device-exists', udid: device(), path: to })
            .then(function () { return true; }, function () { return false; });
        askBeforeReplacing(taken, to).then(function () {
            return copy('device-upload', from, to);
        }).catch(function (error) { if (error) showError(error); });
    }

    function installRingtone() {
        clearFinished();
        var source = computerFile();
        if (!device()) return showError('Choose a device in the device files section first.');
        if (!/\.m4r$/i.test(source)) return showError('Choose an .m4r file to install as a ringtone.');
        var data = { cmd: 'device-add-ringtone', udid: device(), path: '/', source: source };
        if (part('.copies-title').value) data.title = part('.copies-title').value;
        show('empty', 'Installing\u2026');
        App.call('mdfs', data).then(function () {
            show('done', baseName(source) + ' is installed as a ringtone.');
        }).catch(showError);
    }

    function showPicked(record) {
        var picked = part('.copies-picked');
        if (!picked) return;
        picked.textContent = record ? record.path + ' (' + sizeText(record.size || 0) + ')' :
            'Pick a file in the device files list.';
        picked.classList.toggle('empty', !record);
    }

    function build() {
        var fromDevice = element('div', 'copies-line');
        fromDevice.append(element('span', 'copies-picked'),
            button('copies-download', 'Copy to computer folder', function () { download(); }));
        var fromComputer = element('div', 'copies-line');
        fromComputer.append(field('copies-computer', 'Computer file (or the one selected above)'),
            button('copies-upload', 'Copy to device folder', upload));
        var ringtone = element('div', 'copies-line');
        ringtone.append(field('copies-title', 'Ringtone name'),
            button('copies-ringtone', 'Install as ringtone', installRingtone));
        box().replaceChildren(fromDevice, fromComputer, ringtone, element('div', 'copies-running'),
            element('div', 'copies-message'));
        showPicked(App.deviceFiles && App.deviceFiles.picked());
    }

    document.addEventListener('device-file-picked', function (event) { showPicked(event.detail); });
    window.App.copies = { download: download };
    App.ready(build);
})();
