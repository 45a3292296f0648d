// Copies: a device file into the open computer folder, a computer file into the device
// folder open in the device-files section, each with a progress bar and a stop button;
// and an .m4r file installed on the device as a ringtone.
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
    function joinPath(folder, name) { return folder.replace(/\/+$/, '') + '/' + name; }
    function device() { return App.deviceFiles ? App.deviceFiles.udid() : ''; }
    function show(className, text) { part('.copies-message').replaceChildren(element('p', className, text)); }
    function showError(error) { show('error', error.message || String(error)); }

    function computerFile() {
        return part('.copies-computer').value || (App.computerFiles ? App.computerFiles.selected() : '');
    }

    // One copy with its own progress handler and stop handler names.
    function copy(cmd, from, to) {
        if (!device()) return showError('Choose a device in the device files section first.');
        if (!from || !to) return showError('Name the file to copy and where it goes.');
        count += 1;
        var progressName = 'copyProgress' + count;
        var stopName = 'copyStop' + count;
        var bar = element('progress', 'copies-bar');
        var text = element('span', 'copies-bytes', '');
        var reports = 0;
        var stop = button('copies-stop', 'Stop', function () {
            stop.disabled = true;
            App.call(stopName, {}).then(function (reply) {
                if (reply && reply.error) showError(reply.error);
            }).catch(showError);
        });
        var row = element('div', 'copies-row');
        row.append(element('span', 'copies-name', from + ' \u2192 ' + to), bar, text, stop);
        part('.copies-running').replaceChildren(row);
        show('empty', 'Copying\u2026');
        App.register(progressName, function (data) {
            var progress = (data && data.progress) || {};
            reports += 1;
            row.dataset.reports = reports;
            // A phone closes an upload with a report of 100 of 100: the copy is whole.
            if (bar.max > 1 && progress.total < bar.max) {
                bar.value = bar.max;
            } else if (progress.total > 0) {
                bar.max = progress.total;
                bar.value = Math.min(progress.bytes, progress.total);
                text.textContent = progress.bytes + ' of ' + progress.total + ' bytes';
            }
        });
        return App.call('mdfs', { cmd: cmd, udid: device(), path: from, to: to, cb: progressName, stopCB: stopName })
            .then(function () {
                show('done', 'Copied ' + baseName(from) + ' to ' + to + '.');
            }).catch(function (error) {
                showError(stop.disabled ? new Error('The copy was stopped.') : error);
            }).then(function () { stop.disabled = true; });
    }

    function download() {
        var from = part('.copies-device').value;
        var folder = App.computerFiles ? App.computerFiles.folder() : '';
        if (!folder) return showError('Open a folder in the computer files section first.');
        copy('device-download', from, from ? joinPath(folder, baseName(from)) : '').then(function () {
            if (App.computerFiles) App.computerFiles.open(folder);
        });
    }

    function upload() {
        var from = computerFile();
        var folder = App.deviceFiles ? App.deviceFiles.folder() : '/';
        copy('device-upload', from, from ? joinPath(folder || '/', baseName(from)) : '');
    }

    function installRingtone() {
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

    function build() {
        var fromDevice = element('div', 'copies-line');
        fromDevice.append(field('copies-device', 'Device file, e.g. /Downloads/song.mp3'),
            button('copies-download', 'Copy to computer folder', download));
        var fromComputer = element('div', 'copies-line');
        fromComputer.append(field('copies-computer', 'Computer file (or the one selected above)'),
            button('copies-upload', 'Copy to device folder', upload),
            field('copies-title', 'Ringtone name'),
            button('copies-ringtone', 'Install as ringtone', installRingtone));
        box().replaceChildren(fromDevice, fromComputer, element('div', 'copies-running'),
            element('div', 'copies-message'));
    }

    App.ready(build);
})();
