// A device in a window of its own: what the opener passed in the address, and the window
// resizing and closing itself through the "window" event.
(function () {
    var STEP = 100;
    var FIELDS = [['model', 'Model'], ['osversion', 'System version'], ['serial', 'Serial number'],
        ['deviceId', 'Identifier']];

    function byId(id) { return document.getElementById(id); }
    function showError(error) { byId('window-error').textContent = 'Error: ' + error.message; }

    var query = new URLSearchParams(location.search);
    var name = query.get('device-name') || 'Device';
    document.title = name;
    byId('device-name').textContent = name;
    FIELDS.forEach(function (field) {
        var value = query.get('device-' + field[0]);
        if (!value) return;
        var row = document.createElement('tr');
        var label = document.createElement('th');
        label.textContent = field[1];
        var cell = document.createElement('td');
        cell.textContent = value;
        row.appendChild(label);
        row.appendChild(cell);
        byId('device-facts').appendChild(row);
    });

    function showSize() {
        return App.event('window', 'size').then(function (reply) {
            var rect = reply.data;
            byId('window-size').textContent = 'Window: ' + Math.round(rect.width) + ' × ' +
                Math.round(rect.height) + ' at ' + Math.round(rect.x) + ', ' + Math.round(rect.y);
        });
    }

    function widen(by) {
        App.event('window', 'size').then(function (reply) {
            return App.event('window', 'resize', { width: Math.max(200, reply.data.width + by) });
        }).then(showSize).catch(showError);
    }

    byId('window-wider').addEventListener('click', function () { widen(STEP); });
    byId('window-narrower').addEventListener('click', function () { widen(-STEP); });
    byId('window-close').addEventListener('click', function () {
        App.event('window', 'close').catch(showError);
    });
    App.ready(function () { showSize().catch(showError); });
})();
