// HTTP: one request made natively through the "http" event; shows the status (with the
// status line when there is one) and the first lines of the body. A request that got no
// answer (status 0) shows why, in the native side's words.
(function () {
    var BODY_LINES = 20;

    function element(tag, attributes, text) {
        var node = document.createElement(tag);
        Object.keys(attributes || {}).forEach(function (name) { node.setAttribute(name, attributes[name]); });
        if (text !== undefined) node.textContent = text;
        return node;
    }

    function build() {
        var root = document.getElementById('http');
        var form = element('form', { id: 'http-form' });
        var url = element('input', { id: 'http-url', type: 'url', placeholder: 'https://example.org/',
            required: 'required', 'aria-label': 'URL' });
        var method = element('select', { id: 'http-method', 'aria-label': 'Method' });
        ['GET', 'POST'].forEach(function (name) {
            method.appendChild(element('option', { value: name }, name));
        });
        var send = element('button', { id: 'http-send', type: 'submit' }, 'Send');
        form.appendChild(method);
        form.appendChild(url);
        form.appendChild(send);
        root.appendChild(form);
        root.appendChild(element('p', { id: 'http-status', 'class': 'empty' }, 'No request yet.'));
        root.appendChild(element('pre', { id: 'http-body' }));
        form.addEventListener('submit', function (event) {
            event.preventDefault();
            request(url.value, method.value, send);
        });
    }

    function show(status, body, isError) {
        var line = document.getElementById('http-status');
        line.textContent = status;
        line.className = isError ? 'error' : '';
        document.getElementById('http-body').textContent = body || '';
    }

    function firstLines(text) {
        var lines = text.split('\n');
        var shown = lines.slice(0, BODY_LINES).join('\n');
        return lines.length > BODY_LINES ? shown + '\n…' : shown;
    }

    function request(url, method, button) {
        button.disabled = true;
        show('Requesting…', '', false);
        App.event('http', 'request', { url: url, method: method, responseType: 'text' })
            .then(function (reply) {
                var data = reply.data || {};
                if (!data.status) {
                    show(reply.error || 'No answer from the server', '', true);
                    return;
                }
                var status = 'Status ' + data.status + (data.message ? ' — ' + data.message : '') +
                    (reply.error ? ' (' + reply.error + ')' : '');
                show(status, data.text === undefined ? '' : firstLines(data.text),
                    data.status >= 300 || !!reply.error);
            })
            .catch(function (error) { show(error.message, '', true); })
            .then(function () { button.disabled = false; });
    }

    build();
})();
