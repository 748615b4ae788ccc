// Start-up: the server's events once every part listens, the status poll at once
// and every 3 s, the settings poll every 1.5 s.
'use strict';

openServerEvents();

ping();
setInterval(ping, 3000);
setInterval(pollProps, 1500);
