// Devices: the connected devices as they arrive and leave, phones ahead of disk-mode iPods,
// each with its name, kind, model, version and free space, its library's loading step, and
// for a phone its applications with their icons, read through "/fetch" like every other
// device file.
(function () {
    var KINDS = { '512': 'iPod (disk mode)', '513': 'iPod touch', '514': 'iPhone', '515': 'iPad' };
    var STEPS = { loadingLibrary: 'loading library…', playlistsLoaded: 'playlists loaded',
        tracksLoaded: 'tracks loaded', matching: 'library matched' };

    function list() { return document.getElementById('devices'); }
    function itemOf(id) { return list().querySelector('[data-id="' + CSS.escape(id || '') + '"]'); }

    function capacityText(bytes) {
        var units = [[1073741824, 'GB'], [1048576, 'MB'], [1024, 'KB']];
        for (var i = 0; i < units.length; i++) {
            if (bytes >= units[i][0]) return (bytes / units[i][0]).toFixed(2) + ' ' + units[i][1];
        }
        return bytes + (bytes === 1 ? ' byte' : ' bytes');
    }

    function fetchUrl(params) {
        return '/fetch?' + Object.keys(params).map(function (key) {
            return key + '=' + encodeURIComponent(params[key]);
        }).join('&');
    }

    function element(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }

    function showApplications(device, box) {
        box.replaceChildren(element('li', 'empty', 'Loading applications…'));
        fetch(fetchUrl({ action: 'file-list', udid: device.deviceId, type: 'app' }))
            .then(function (response) {
                if (!response.ok) throw new Error('The application list could not be read (' + response.status + ').');
                return response.json();
            })
            .then(function (listing) {
                var records = (listing && listing.records) || [];
                box.replaceChildren();
                if (!records.length) {
                    box.appendChild(listing && listing.error ?
                        element('li', 'error', 'The application list could not be read (error ' +
                            listing.error + ').') :
                        element('li', 'empty', 'No applications share files.'));
                    return;
                }
                records.forEach(function (app) {
                    var item = element('li', 'app');
                    item.setAttribute('data-app', app.id);
                    var icon = element('img', 'app-icon');
                    icon.alt = '';
                    icon.src = fetchUrl({ action: 'icon', udid: device.deviceId, type: 'app',
                        appid: app.id, path: '/', fullsize: 'true' });
                    icon.onerror = function () { icon.classList.add('missing'); };
                    item.appendChild(icon);
                    item.appendChild(element('span', 'app-name', app.name || app.id));
                    box.appendChild(item);
                });
            })
            .catch(function (error) {
                box.replaceChildren(element('li', 'error', error.message));
            });
    }

    function showDevice(device) {
        if (!device) return;
        var empty = list().querySelector('.empty');
        if (empty) empty.remove();
        var isPod = device.deviceType === 512;
        var item = itemOf(device.deviceId);
        if (!item) {
            item = element('li', 'device');
            item.setAttribute('data-id', device.deviceId || '');
            item.setAttribute('data-kind', isPod ? 'pod' : 'phone');
            // Phones stand before every iPod.
            var firstPod = list().querySelector('[data-kind="pod"]');
            if (!isPod && firstPod) list().insertBefore(item, firstPod);
            else list().appendChild(item);
        }
        item.replaceChildren();
        item.appendChild(element('div', 'device-name', device.name || 'Unnamed device'));
        var details = [KINDS[String(device.deviceType)] || 'Other device'];
        if (device.model) details.push('model ' + device.model);
        if (device.osversion) details.push('version ' + device.osversion);
        item.appendChild(element('div', 'device-details', details.join(' · ')));
        item.appendChild(element('div', 'device-status'));
        item.appendChild(element('div', 'device-space', device.totalCapacity ?
            capacityText(device.freeCapacity || 0) + ' free of ' + capacityText(device.totalCapacity) :
            'Free space unknown'));
        if (device.lastErrorCode) {
            item.appendChild(element('div', 'error', 'Last device error: ' +
                (device.lastErrorText || 'unknown status') + ' (' + device.lastErrorCode + ')'));
        }
        var own = element('button', 'open-window', 'Open in window');
        own.addEventListener('click', function () { App.ui.openDeviceWindow(device); });
        item.appendChild(own);
        if (device.deviceType >= 513 && device.deviceType <= 515) {
            var apps = element('ul', 'apps');
            item.appendChild(apps);
            showApplications(device, apps);
        }
    }

    function forgetDevice(device) {
        var item = itemOf(device && device.deviceId);
        if (item) item.remove();
        if (!list().children.length) list().replaceChildren(element('li', 'empty', 'No device connected.'));
    }

    function showLoading(data) {
        var item = itemOf(data && data.deviceId);
        if (!item || !STEPS[data.step]) return;
        item.querySelector('.device-status').textContent = STEPS[data.step];
    }

    App.on('deviceAdded', showDevice);
    App.on('iDeviceAdded', showDevice);
    App.on('deviceRemoved', forgetDevice);
    App.on('iDeviceRemoved', forgetDevice);
    App.on('deviceMediaLoading', showLoading);
})();
