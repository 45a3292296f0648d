// The one file that talks to the native bridge. Sections use window.App:
//   App.call(handler, data)           -> Promise of the native reply
//   App.event(event, cmd, data)       -> Promise of a "wvevent" reply
//   App.on(pushName, fn)              -> fn(data, reply) for each push from the native side
//   App.register(name, fn)            -> a page handler the native side calls by name (progress, stop)
//   App.ready(fn)                     -> fn() once the bridge is up
//   App.emit(name, data)              -> tells the page's own listeners (App.on) of a change
(function () {
    var bridge = null;
    var readyWaiters = [];
    var listeners = {};
    var PUSHES = ['deviceAdded', 'deviceRemoved', 'deviceMediaLoading', 'playlistsLoaded',
        'tracksLoaded', 'iTunesLoading', 'iTunesLoaded', 'iDeviceAdded', 'iDeviceRemoved',
        'wvWindowClosed', 'enterModalWindow', 'leaveModalWindow', 'menu-action'];

    // The events' raw data (a phone number among it) is shown in development mode only,
    // where the page comes from the development server rather than the "myapp" scheme.
    var DEVELOPMENT = location.protocol !== 'myapp:';

    function logEvent(name, data) {
        var list = document.getElementById('events');
        if (!list || !DEVELOPMENT) return;
        var item = document.createElement('li');
        item.textContent = new Date().toLocaleTimeString() + '  ' + name +
            (data === undefined ? '' : '  ' + JSON.stringify(data));
        list.appendChild(item);
    }

    function whenReady() {
        return bridge ? Promise.resolve(bridge) : new Promise(function (resolve) {
            readyWaiters.push(resolve);
        });
    }

    // A reply that carries result false (or an error) rejects with its message, so that
    // sections show it instead of swallowing it. The error keeps the reply (error.reply):
    // some handlers answer a plain {result: false} for "nothing", such as a cancelled panel.
    function settle(reply, resolve, reject) {
        if (reply && reply.result === false) {
            var error = reply.error;
            if (error && typeof error === 'object') error = error.message || JSON.stringify(error);
            var failure = new Error(error || 'failed');
            failure.reply = reply;
            reject(failure);
        } else {
            resolve(reply);
        }
    }

    function tell(name, data) {
        (listeners[name] || []).forEach(function (fn) {
            try { fn(data); } catch (e) { logEvent('page error', String(e)); }
        });
    }

    window.App = {
        call: function (handler, data) {
            return whenReady().then(function (b) {
                return new Promise(function (resolve, reject) {
                    b.callHandler(handler, data === undefined ? {} : data, function (reply) {
                        settle(reply, resolve, reject);
                    });
                });
            });
        },
        event: function (event, cmd, data) {
            return App.call('wvevent', { event: event, data: { cmd: cmd, data: data || {} } });
        },
        on: function (name, fn) {
            (listeners[name] = listeners[name] || []).push(fn);
        },
        register: function (name, fn) {
            whenReady().then(function (b) { b.registerHandler(name, fn); });
        },
        ready: function (fn) { whenReady().then(function () { fn(); }); },
        emit: tell,
        logEvent: logEvent
    };

    function start(b) {
        bridge = b;
        document.documentElement.dataset.bridge = 'ready';
        var events = document.getElementById('section-events');
        if (events && DEVELOPMENT) events.hidden = false;
        PUSHES.forEach(function (name) {
            b.registerHandler(name, function (data, reply) {
                logEvent(name, data);
                tell(name, data);
                if (reply) reply();
            });
        });
        readyWaiters.splice(0).forEach(function (resolve) { resolve(b); });
        b.callHandler('bridgeReady', { titleHeight: 0 });
    }

    // The native side injects the bridge when this frame asks for it, then calls us back.
    // It is asked once every section's script has run: the pushes that follow the bridge's
    // start (the known devices, told again at "bridgeReady") must find their listeners.
    function askForBridge() {
        window.WVSBCallbacks = [start];
        var frame = document.createElement('iframe');
        frame.style.display = 'none';
        frame.src = 'https://__wvsb_bridge_loaded__';
        document.documentElement.appendChild(frame);
        setTimeout(function () { document.documentElement.removeChild(frame); }, 0);
    }
    if (document.readyState === 'loading') {
        document.addEventListener('DOMContentLoaded', askForBridge);
    } else {
        askForBridge();
    }
})();
