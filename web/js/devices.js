// Devices: the connected devices as they arrive and leave, phones ahead of disk-mode iPods,
// each with its name, model and kind, and its library's loading step.
(function () {
    var KINDS = { 512: 'iPod (disk mode)', 513: 'iPod touch', 514: 'iPhone', 515: 'iPad' };

    function list() { return document.getElementById('devices'); }
    function itemOf(id) { return list().querySelector('[data-id="' + CSS.escape(id || '') + '"]'); }

    function showDevice(device) {
        var empty = list().querySelector('.empty');
        if (empty) empty.remove();
        var id = device && device.deviceId;
        var item = itemOf(id);
        if (!item) {
            item = document.createElement('li');
            item.setAttribute('data-id', id);
            item.innerHTML = '<span class="device-name"></span> <span class="device-detail"></span>' +
                ' <span class="device-status"></span> ';
            var own = document.createElement('button');
            own.textContent = 'Open in window';
            own.addEventListener('click', function () { App.ui.openDeviceWindow(device); });
            item.appendChild(own);
            var isPod = device.deviceType === 512;
            item.setAttribute('data-kind', isPod ? 'pod' : 'phone');
            // Phones stand before every iPod.
            var firstPod = list().querySelector('[data-kind="pod"]');
            if (!isPod && firstPod) list().insertBefore(item, firstPod);
            else list().appendChild(item);
        }
        item.querySelector('.device-name').textContent = device.name || 'Device';
        item.querySelector('.device-detail').textContent = '— ' +
            [KINDS[device.deviceType] || 'Other device', device.model, device.osversion]
                .filter(Boolean).join(', ');
    }

    function forgetDevice(device) {
        var item = itemOf(device && device.deviceId);
        if (item) item.remove();
        if (!list().children.length) list().innerHTML = '<li class="empty">No device connected.</li>';
    }

    var STEPS = { loadingLibrary: 'loading library…', playlistsLoaded: 'playlists loaded',
        tracksLoaded: 'tracks loaded', matching: 'library matched' };

    function showLoading(data) {
        var item = itemOf(data && data.deviceId);
        if (!item || !STEPS[data.step]) return;
        item.querySelector('.device-status').textContent = '(' + STEPS[data.step] + ')';
    }

    App.on('deviceAdded', showDevice);
    App.on('iDeviceAdded', showDevice);
    App.on('deviceRemoved', forgetDevice);
    App.on('iDeviceRemoved', forgetDevice);
    App.on('deviceMediaLoading', showLoading);
})();
