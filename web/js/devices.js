// Devices: the connected devices as they arrive and leave, phones ahead of disk-mode iPods,
// each with its name, kind, model, version and free space, its library's loading step, and
// for every phone its pairing with this computer (pair or unpair), its details as the phone
// tells them, and its applications with their icons, read through "/fetch" like every
// other device file.
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

    // A device status in plain words: the device's own words for it when it is the device's
    // last failure, which the native side has put into words. The code itself is kept for
    // the details (codeText).
    function statusWords(device, code) {
        return code === device.lastErrorCode && device.lastErrorText ?
            device.lastErrorText.replace(/\.$/, '') : 'the device refused the request';
    }
    // The statuses of a phone that does not trust this computer (yet): once it is paired,
    // a last error of these kinds is over and is not shown.
    var PAIRING_STATUSES = [0xe800001a, 0xe800001c, 0xe8000025, 0xe800005c, 0xe8000095, 0xe8000096];
    function pairingIsOver(device) {
        if (PAIRING_STATUSES.indexOf(device.lastErrorCode >>> 0) < 0) return;
        device.errorIsOver = true;
        var item = itemOf(device.deviceId);
        var shown = item && item.querySelector('.device-error');
        if (shown) shown.remove();
    }
    function codeText(code) {
        return code + ' (0x' + (code >>> 0).toString(16).padStart(8, '0') + ')';
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
                    var failed = element('li', 'error', 'The application list could not be read: ' +
                        statusWords(device, listing && listing.error) + '.');
                    if (listing && listing.error) failed.title = 'Status ' + codeText(listing.error);
                    box.appendChild(listing && listing.error ? failed :
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

    function mdfs(cmd, device, more) {
        var data = { cmd: cmd, udid: device.deviceId };
        Object.keys(more || {}).forEach(function (key) { data[key] = more[key]; });
        return App.call('mdfs', data);
    }
    function failureText(error, plain) {
        return error.reply && !error.reply.error ? plain : (error.message || String(error));
    }

    // "Pair" for a phone that does not trust this computer, "Unpair" for one that does.
    function showPairing(device, box, failure) {
        box.replaceChildren(element('span', 'pairing-state', 'Asking the phone…'));
        mdfs('device-is-paired', device).then(function (reply) {
            var data = reply.data || {};
            if (data.removed) return box.replaceChildren(element('span', 'pairing-state', 'The phone is gone.'));
            var paired = data.paired === true;
            box.dataset.paired = paired ? 'yes' : 'no';
            if (paired) pairingIsOver(device);
            var change = element('button', 'pairing-change', paired ? 'Unpair' : 'Pair');
            change.type = 'button';
            change.addEventListener('click', function () {
                change.disabled = true;
                var message = paired ? 'The phone could not be unpaired.' :
                    'The phone did not pair: unlock it and answer its question, then try again.';
                mdfs(paired ? 'device-unpair' : 'device-pair', device).then(function () {
                    showPairing(device, box);
                }).catch(function (error) {
                    showPairing(device, box, failureText(error, message));
                });
            });
            box.replaceChildren(element('span', 'pairing-state', paired ? 'Paired with this computer' :
                'Not paired with this computer'), change);
            if (failure) box.appendChild(element('span', 'error', failure));
        }).catch(function (error) {
            box.replaceChildren(element('span', 'error', failureText(error, 'The pairing could not be read.')));
        });
    }

    // The phone's own account of itself: its values and its disk usage.
    var DETAILS = [['Name', 'DeviceName'], ['Model', 'ProductType'], ['Model number', 'ModelNumber'],
        ['Version', 'ProductVersion'], ['Serial number', 'SerialNumber']];
    function showDetails(device, box) {
        // The values and disk usage as far as they are known; the code of the device's last
        // failure, which the list gives in words only, in any case.
        var listOf = function (values, usage) {
            var list = element('dl', 'device-info');
            var add = function (label, value) {
                if (value === undefined || value === null || value === '') return;
                var row = element('div', 'device-info-row');
                row.setAttribute('data-label', label);
                row.append(element('dt', '', label), element('dd', '', String(value)));
                list.appendChild(row);
            };
            DETAILS.forEach(function (detail) { add(detail[0], values[detail[1]]); });
            var total = usage.TotalDataCapacity || usage.TotalDiskCapacity;
            if (total) add('Capacity', capacityText(total));
            if (usage.AmountDataAvailable !== undefined) add('Free space', capacityText(usage.AmountDataAvailable));
            if (device.lastErrorCode && !device.errorIsOver) add('Last error code', codeText(device.lastErrorCode));
            return list;
        };
        box.replaceChildren(element('p', 'empty', 'Reading the details…'), listOf({}, {}));
        Promise.all([mdfs('device-info', device),
            mdfs('device-info', device, { domain: 'com.apple.disk_usage' })]).then(function (replies) {
            var list = listOf(replies[0].data || {}, replies[1].data || {});
            box.replaceChildren(list.children.length ? list : element('p', 'empty', 'The phone told nothing.'));
        }).catch(function (error) {
            box.replaceChildren(element('p', 'error', failureText(error, 'The phone did not tell its details.')),
                listOf({}, {}));
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
            var lastError = element('div', 'error device-error', 'Last device error: ' +
                (device.lastErrorText || 'the device refused a request'));
            lastError.title = 'Status ' + codeText(device.lastErrorCode);
            item.appendChild(lastError);
        }
        var own = element('button', 'open-window', 'Open in window');
        own.addEventListener('click', function () { App.ui.openDeviceWindow(device); });
        item.appendChild(own);
        // Every phone can be paired, also one that tells nothing of itself before it is (a
        // disk-mode iPod has nothing to pair).
        if (!isPod) {
            var pairing = element('div', 'device-pairing');
            item.appendChild(pairing);
            showPairing(device, pairing);
        }
        if (device.deviceType >= 513 && device.deviceType <= 515) {
            var details = element('div', 'device-more');
            var ask = element('button', 'device-details-open', 'Details');
            ask.type = 'button';
            ask.addEventListener('click', function () { showDetails(device, details); });
            item.append(ask, details);
            var apps = element('ul', 'apps');
            item.appendChild(apps);
            showApplications(device, apps);
        }
        showConnected();
    }

    // The header names the connected devices, and says nothing when there are none.
    function showConnected() {
        var names = Array.from(list().querySelectorAll('.device-name')).map(function (name) {
            return name.textContent;
        });
        document.getElementById('connected').textContent = names.length ?
            'Connected: ' + names.join(', ') : '';
    }

    function forgetDevice(device) {
        var item = itemOf(device && device.deviceId);
        if (item) item.remove();
        if (!list().children.length) list().replaceChildren(element('li', 'empty', 'No device connected.'));
        showConnected();
    }

    // The loading steps until the device media section knows what the load came to: a
    // match at the end of a load that read nothing is no success.
    function showLoading(data) {
        var item = itemOf(data && data.deviceId);
        if (!item || !STEPS[data.step]) return;
        var status = item.querySelector('.device-status');
        if (data.step === 'loadingLibrary') delete status.dataset.outcome;
        if (status.dataset.outcome) return;
        status.textContent = STEPS[data.step];
        status.classList.remove('error');
    }
    function showOutcome(data) {
        var item = itemOf(data && data.deviceId);
        if (!item) return;
        var status = item.querySelector('.device-status');
        status.dataset.outcome = 'yes';
        status.textContent = data.text;
        status.classList.toggle('error', !!data.failed);
    }

    App.on('deviceAdded', showDevice);
    App.on('iDeviceAdded', showDevice);
    App.on('deviceRemoved', forgetDevice);
    App.on('iDeviceRemoved', forgetDevice);
    App.on('deviceMediaLoading', showLoading);
    App.on('deviceLibraryOutcome', showOutcome);
})();
