// until: the one way a browser test waits for a state. It asks `look` (sync or
// async) until its answer passes `holds`, or the deadline passes; a failure
// names what it saw last. Resolves with the last answer.
'use strict';

async function until(look, deadlineMs = 5000, holds = Boolean, what = 'condition') {
  const end = Date.now() + deadlineMs;
  let seen;
  for (;;) {
    seen = await look();
    if (holds(seen)) return seen;
    if (Date.now() >= end) {
      throw new Error(`${what}: not within ${deadlineMs} ms; last seen: ${JSON.stringify(seen)}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

module.exports = { until };
