#pragma once

namespace net {

// The helper functions every auto-configuration script may call, as JavaScript. dnsResolve
// and myIpAddress come from native code.
inline constexpr const char* NetPACScriptHelpers = R"JS(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  host = String(host).toLowerCase(); domain = String(domain).toLowerCase();
  return host.length >= domain.length && host.substring(host.length - domain.length) == domain;
}
function localHostOrDomainIs(host, hostdom) {
  host = String(host).toLowerCase(); hostdom = String(hostdom).toLowerCase();
  if (host == hostdom) return true;
  return host.indexOf('.') < 0 && hostdom.lastIndexOf(host + '.', 0) == 0;
}
function isResolvable(host) { return dnsResolve(host) !== null; }
function __pacAddress(text) {
  var parts = String(text).split('.');
  if (parts.length != 4) return null;
  var value = 0;
  for (var i = 0; i < 4; i++) {
    if (!/^\d{1,3}$/.test(parts[i]) || Number(parts[i]) > 255) return null;
    value = value * 256 + Number(parts[i]);
  }
  return value;
}
function isInNet(host, pattern, mask) {
  var ip = __pacAddress(host) !== null ? host : dnsResolve(host);
  if (ip === null) return false;
  var a = __pacAddress(ip), p = __pacAddress(pattern), m = __pacAddress(mask);
  if (a === null || p === null || m === null) return false;
  return ((a & m) >>> 0) == ((p & m) >>> 0);
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function shExpMatch(text, pattern) {
  var source = String(pattern).replace(/[.+^${}()|[\]\\]/g, '\\$&')
      .replace(/\*/g, '.*').replace(/\?/g, '.');
  return new RegExp('^' + source + '$').test(String(text));
}
var __pacDays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __pacMonths = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function __pacGmt(args) {
  if (args.length > 0 && args[args.length - 1] === 'GMT') { args.pop(); return true; }
  return false;
}
function __pacInRange(value, low, high) {
  return low <= high ? (value >= low && value <= high) : (value >= low || value <= high);
}
function weekdayRange() {
  var args = Array.prototype.slice.call(arguments), gmt = __pacGmt(args), now = new Date();
  var day = gmt ? now.getUTCDay() : now.getDay();
  var low = __pacDays.indexOf(String(args[0]));
  var high = args.length > 1 ? __pacDays.indexOf(String(args[1])) : low;
  if (low < 0 || high < 0) return false;
  return __pacInRange(day, low, high);
}
function timeRange() {
  var args = Array.prototype.slice.call(arguments), gmt = __pacGmt(args), now = new Date();
  var h = gmt ? now.getUTCHours() : now.getHours(), m = gmt ? now.getUTCMinutes() : now.getMinutes();
  var s = gmt ? now.getUTCSeconds() : now.getSeconds(), t = h * 3600 + m * 60 + s;
  var n = args.map(Number);
  if (n.length == 1) return h == n[0];
  if (n.length == 2) return __pacInRange(h, n[0], n[1]);
  if (n.length == 4) return __pacInRange(t, n[0] * 3600 + n[1] * 60, n[2] * 3600 + n[3] * 60 + 59);
  if (n.length == 6) return __pacInRange(t, n[0] * 3600 + n[1] * 60 + n[2], n[3] * 3600 + n[4] * 60 + n[5]);
  return false;
}
function dateRange() {
  var args = Array.prototype.slice.call(arguments), gmt = __pacGmt(args), now = new Date();
  var d = gmt ? now.getUTCDate() : now.getDate(), mo = gmt ? now.getUTCMonth() : now.getMonth();
  var y = gmt ? now.getUTCFullYear() : now.getFullYear();
  function kind(v) {
    if (__pacMonths.indexOf(String(v)) >= 0) return 'month';
    return Number(v) > 31 ? 'year' : 'day';
  }
  function key(v, k) {
    if (k == 'month') return __pacMonths.indexOf(String(v));
    return Number(v);
  }
  var half = args.length > 1 && args.length % 2 == 0 ? args.length / 2 : 0;
  var low = half ? args.slice(0, half) : args, high = half ? args.slice(half) : args;
  function value(parts) {
    var out = 0;
    parts.forEach(function (p) {
      var k = kind(p);
      if (k == 'year') out += key(p, k) * 10000;
      else if (k == 'month') out += key(p, k) * 100;
      else out += key(p, k);
    });
    return out;
  }
  function current(parts) {
    var out = 0;
    parts.forEach(function (p) {
      var k = kind(p);
      if (k == 'year') out += y * 10000;
      else if (k == 'month') out += mo * 100;
      else out += d;
    });
    return out;
  }
  return __pacInRange(current(low), value(low), value(high));
}
function alert() {}
)JS";

}  // namespace net
