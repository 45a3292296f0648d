// A small text view that device files and computer files share: opens a text file through
// the section's own read command, and saves it back without ever leaving a half-written
// file in its place. A section hands it the file's path and its commands:
//   App.textView(into, path, { read(path, length) -> base64 (at most length bytes),
//                              write(path, base64),
//                              replace(from, to), remove(path), sibling(path) -> free path,
//                              saved(path), optional: told once the file is saved })
// `replace` moves a saved copy over the file; a side without it removes the file and writes
// the text again, keeping the saved copy until that has worked.
(function () {
    var LIMIT = 1048576;  // larger files are not opened as text

    function element(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }

    function bytesOf(base64) {
        var binary = atob(base64 || '');
        var bytes = new Uint8Array(binary.length);
        for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
        return bytes;
    }
    function base64Of(bytes) {
        var binary = '';
        for (var i = 0; i < bytes.length; i += 32768) {
            binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
        }
        return btoa(binary);
    }

    // The text of the bytes and how its lines end, or null when it is not UTF-8 text whose
    // lines all end alike (the text box would change such bytes on the way back).
    function textOf(bytes) {
        var text;
        try {
            text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(bytes);
        } catch (e) {
            return null;
        }
        var crlf = (text.match(/\r\n/g) || []).length;
        var cr = (text.match(/\r/g) || []).length;
        var lf = (text.match(/\n/g) || []).length;
        if (cr !== crlf || (crlf && crlf !== lf)) return null;
        return { text: text, ending: crlf ? '\r\n' : '\n' };
    }

    function open(into, path, side) {
        var status = element('p', 'text-status', 'Reading ' + path + '\u2026');
        var area = element('textarea', 'text-area');
        area.spellcheck = false;
        area.disabled = true;
        var save = element('button', 'text-save', 'Save');
        save.type = 'button';
        save.disabled = true;
        var bar = element('div', 'text-bar');
        bar.append(save, status);
        into.replaceChildren(element('h3', 'text-name', path), area, bar);
        into.dataset.state = 'reading';
        var ending = '\n';

        function show(text, isError) {
            status.textContent = text;
            status.className = 'text-status' + (isError ? ' error' : '');
        }

        // One byte past the limit tells a file too large without reading it whole.
        side.read(path, LIMIT + 1).then(function (base64) {
            var bytes = bytesOf(base64);
            if (bytes.length > LIMIT) return show('The file is too large to open as text.', true);
            var read = textOf(bytes);
            if (!read) return show('The file is not plain text and is not opened here.', true);
            area.value = read.text;
            ending = read.ending;
            area.disabled = false;
            save.disabled = false;
            into.dataset.state = 'open';
            show(bytes.length + (bytes.length === 1 ? ' byte' : ' bytes'));
        }).catch(function (error) { show(error.message || String(error), true); });

        save.addEventListener('click', function () {
            var text = ending === '\n' ? area.value : area.value.replace(/\n/g, ending);
            var base64 = base64Of(new TextEncoder().encode(text));
            save.disabled = true;
            into.dataset.state = 'saving';
            show('Saving\u2026');
            saveAs(path, base64, side).then(function () {
                into.dataset.state = 'saved';
                show('Saved.');
                // The section's list shows the file's new size.
                if (side.saved) side.saved(path);
            }).catch(function (error) {
                into.dataset.state = 'failed';
                show(error.message || String(error), true);
            }).then(function () { save.disabled = false; });
        });
    }

    // The text goes to a free name beside the file first; only a whole copy replaces it.
    function saveAs(path, base64, side) {
        return side.sibling(path).then(function (copy) {
            return side.write(copy, base64).then(function () {
                if (side.replace) {
                    return side.replace(copy, path).catch(function (error) {
                        return side.remove(copy).then(function () { throw error; }, function () { throw error; });
                    });
                }
                return side.remove(path).then(function () {
                    return side.write(path, base64);
                }).then(function () {
                    return side.remove(copy);
                }, function (error) {
                    throw new Error((error.message || String(error)) + ' The text is saved in ' + copy + '.');
                });
            });
        });
    }

    window.App.textView = open;
})();
