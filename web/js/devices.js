// Devices: the connected devices as they arrive and leave.
(function () {
    function list() { return document.getElementById('devices'); }

    function showDevice(device) {
        var empty = list().querySelector('.empty');
        if (empty) empty.remove();
        var id = device && device.deviceId;
        var item = list().querySelector('[data-id="' + id + '"]') || document.createElement('li');
        item.setAttribute('data-id', id);
        item.textContent = (device.name || 'Device') + ' — ' + (device.model || '') + ' ' +
            (device.osversion || '') + ' ';
        var own = document.createElement('button');
        own.textContent = 'Open in window';
        own.addEventListener('click', function () { App.ui.openDeviceWindow(device); });
        item.appendChild(own);
        list().appendChild(item);
    }

    function forgetDevice(device) {
        var item = list().querySelector('[data-id="' + (device && device.deviceId) + '"]');
        if (item) item.remove();
        if (!list().children.length) list().innerHTML = '<li class="empty">No device connected.</li>';
    }

    App.on('deviceAdded', showDevice);
    App.on('iDeviceAdded', showDevice);
    App.on('deviceRemoved', forgetDevice);
    App.on('iDeviceRemoved', forgetDevice);
})();
