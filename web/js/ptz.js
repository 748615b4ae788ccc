// PTZ: the pad's commands. The arrows start the head turning at speed 30 in their
// direction, Parar stops it, ⌂ sends it home.
'use strict';

// Pan and tilt are speeds, the sign the direction; they go into the query as the
// numbers read ("pan=-30&tilt=0").
function ptzMove(pan, tilt) { return api('/ptz/move', 'pan=' + pan + '&tilt=' + tilt); }

function ptzHome() { return api('/ptz/home'); }

function ptzStop() { return api('/ptz/stop'); }
