// The start page: starts the bridge, tells the native side it is ready and shows what the
// native side pushes.
(function () {
    function logEvent(name, data) {
        var item = document.createElement('li');
        item.textContent = new Date().toLocaleTimeString() + '  ' + name +
            (data === undefined ? '' : '  ' + JSON.stringify(data));
        document.getElementById('events').appendChild(item);
    }

    function deviceList() { return document.getElementById('devices'); }

    function showDevice(device) {
        var list = deviceList();
        var empty = list.querySelector('.empty');
        if (empty) empty.remove();
        var id = device && device.deviceId;
        var item = list.querySelector('[data-id="' + id + '"]') || document.createElement('li');
        item.setAttribute('data-id', id);
        item.textContent = (device.name || 'Device') + ' — ' + (device.model || '') + ' ' +
            (device.osversion || '');
        list.appendChild(item);
    }

    function forgetDevice(device) {
        var item = deviceList().querySelector('[data-id="' + (device && device.deviceId) + '"]');
        if (item) item.remove();
        if (!deviceList().children.length) {
            deviceList().innerHTML = '<li class="empty">No device connected.</li>';
        }
    }

    function start(bridge) {
        document.getElementById('bridge').textContent = 'Connected';
        var pushes = {
            deviceAdded: showDevice, iDeviceAdded: showDevice,
            deviceRemoved: forgetDevice, iDeviceRemoved: forgetDevice,
            iTunesLoading: function () { document.getElementById('library').textContent = 'Loading…'; },
            iTunesLoaded: function () { document.getElementById('library').textContent = 'Loaded.'; }
        };
        ['deviceAdded', 'deviceRemoved', 'deviceMediaLoading', 'playlistsLoaded', 'tracksLoaded',
         'iTunesLoading', 'iTunesLoaded', 'iDeviceAdded', 'iDeviceRemoved', 'wvWindowClosed',
         'enterModalWindow', 'leaveModalWindow', 'menu-action'].forEach(function (name) {
            bridge.registerHandler(name, function (data, reply) {
                logEvent(name, data);
                if (pushes[name]) pushes[name](data);
                if (reply) reply();
            });
        });
        bridge.callHandler('bridgeReady', { titleHeight: 0 });
    }

    // The native side injects the bridge when this frame asks for it, then calls us back.
    window.WVSBCallbacks = [start];
    var frame = document.createElement('iframe');
    frame.style.display = 'none';
    frame.src = 'https://__wvsb_bridge_loaded__';
    document.documentElement.appendChild(frame);
    setTimeout(function () { document.documentElement.removeChild(frame); }, 0);
})();
