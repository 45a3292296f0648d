;(function() {
    if (window.WebViewScriptBridge) {
        return;
    }

    if (!window.onerror) {
        window.onerror = function(msg, url, line) {
            console.log("WebViewScriptBridge: ERROR:" + msg + "@" + url + ":" + line);
        };
    }

    var messagingIframe;
    var sendMessageQueue = [];
    var messageHandlers = {};
    var responseCallbacks = {};
    var uniqueId = 1;
    var dispatchMessagesWithTimeoutSafety = true;

    var CUSTOM_PROTOCOL_SCHEME = 'https';
    var QUEUE_HAS_MESSAGE = '__wvsb_queue_message__';

    window.WebViewScriptBridge = {
        platform: 'macos',
        registerHandler: registerHandler,
        removeHandler: removeHandler,
        callHandler: callHandler,
        disableJavscriptAlertBoxSafetyTimeout: disableJavscriptAlertBoxSafetyTimeout,
        _fetchQueue: _fetchQueue,
        _handleMessageFromNative: _handleMessageFromNative
    };
    window.messageHandlers = messageHandlers;

    // Several page handlers may share one name; each is called for every message.
    function registerHandler(handlerName, handler) {
        if (!handler) {
            delete messageHandlers[handlerName];
            return;
        }
        if (!Array.isArray(messageHandlers[handlerName])) {
            messageHandlers[handlerName] = [];
        }
        messageHandlers[handlerName].push(handler);
    }

    function removeHandler(handlerName, handler) {
        if (!handler) {
            console.log("WebViewBridge: WARNING: handler is undefined.");
            return;
        }
        var handlers = messageHandlers[handlerName];
        if (!Array.isArray(handlers)) {
            return;
        }
        messageHandlers[handlerName] = handlers.filter(function(h) {
            return h !== handler;
        });
    }

    function callHandler(handlerName, data, responseCallback) {
        if (arguments.length == 2 && typeof data == 'function') {
            responseCallback = data;
            data = null;
        }
        _doSend({ handlerName: handlerName, data: data }, responseCallback);
    }

    function disableJavscriptAlertBoxSafetyTimeout() {
        dispatchMessagesWithTimeoutSafety = false;
    }

    // Messages wait in the queue until the native side, woken by the frame's navigation,
    // fetches the whole queue at once.
    function _doSend(message, responseCallback) {
        if (responseCallback) {
            var callbackId = 'cb_' + (uniqueId++) + '_' + new Date().getTime();
            responseCallbacks[callbackId] = responseCallback;
            message['callbackId'] = callbackId;
        }
        sendMessageQueue.push(message);
        messagingIframe.src = CUSTOM_PROTOCOL_SCHEME + '://' + QUEUE_HAS_MESSAGE;
    }

    function _fetchQueue() {
        var messageQueueString = JSON.stringify(sendMessageQueue);
        sendMessageQueue = [];
        return messageQueueString;
    }

    function _dispatchMessageFromNative(messageJSON) {
        var message = JSON.parse(messageJSON);

        if (message.responseId) {
            var callback = responseCallbacks[message.responseId];
            if (!callback) {
                return;
            }
            delete responseCallbacks[message.responseId];
            callback(message.responseData);
            return;
        }

        var responseCallback;
        if (message.callbackId) {
            var callbackResponseId = message.callbackId;
            responseCallback = function(responseData) {
                _doSend({
                    handlerName: message.handlerName,
                    responseId: callbackResponseId,
                    responseData: responseData
                });
            };
        }

        var handlers = messageHandlers[message.handlerName];
        if (!handlers) {
            console.log("WebViewScriptBridge: WARNING: no handler for message from native:", message);
        } else if (!Array.isArray(handlers)) {
            console.log("WebViewScriptBridge: WARNING: invalid handlers from Objc:", message);
        } else {
            handlers.forEach(function(handler) {
                handler(message.data, responseCallback);
            });
        }
    }

    // A zero-delay timer keeps a page handler that opens an alert from blocking the
    // native evaluation that delivered the message.
    function _handleMessageFromNative(messageJSON) {
        if (dispatchMessagesWithTimeoutSafety) {
            setTimeout(function() {
                _dispatchMessageFromNative(messageJSON);
            }, 0);
        } else {
            _dispatchMessageFromNative(messageJSON);
        }
    }

    messagingIframe = document.createElement('iframe');
    messagingIframe.style.display = 'none';
    messagingIframe.src = CUSTOM_PROTOCOL_SCHEME + '://' + QUEUE_HAS_MESSAGE;
    document.documentElement.appendChild(messagingIframe);

    registerHandler("_disableJavascriptAlertBoxSafetyTimeout", disableJavscriptAlertBoxSafetyTimeout);

    setTimeout(_callWVSBCallbacks, 0);
    function _callWVSBCallbacks() {
        var callbacks = window.WVSBCallbacks;
        delete window.WVSBCallbacks;
        if (!Array.isArray(callbacks)) {
            return;
        }
        for (var i = 0; i < callbacks.length; i++) {
            callbacks[i](WebViewScriptBridge);
        }
    }
})();
