// Flat rows from a stream of concatenated JSON blocks: each block cut out by bracket matching
// (strings and escapes skipped) and read with JSON.parse, nested names joined with "_", an
// array one value, the elements of a top-level array one row each.
// Prints "bytes seconds rows values cpu-seconds".
'use strict';
const fs = require('fs');

function flatten(obj, prefix, row) {
  let nested = null;
  for (const key in obj) {
    const value = obj[key];
    const name = prefix ? prefix + '_' + key : key;
    if (value !== null && typeof value === 'object' && !Array.isArray(value))
      (nested || (nested = [])).push(name, value);
    else
      row.push(name, value);
  }
  if (nested)
    for (let i = 0; i < nested.length; i += 2) flatten(nested[i + 1], nested[i], row);
}

// Cuts the blocks out of the stream and counts their rows and values.
function run(data) {
  const text = data.toString('utf8');
  let rows = 0, values = 0;
  const n = text.length;
  let at = 0;
  for (;;) {
    // The next block start.
    let open = -1;
    for (; at < n; ++at) {
      const c = text.charCodeAt(at);
      if (c === 123 || c === 91) { open = c; break; }
    }
    if (open < 0) break;
    const close = open + 2; // '}' or ']'
    let depth = 0, inString = false, end = -1;
    for (let i = at + 1; i < n; ++i) {
      const c = text.charCodeAt(i);
      if (c === 92) { ++i; continue; }
      if (c === 34) { inString = !inString; continue; }
      if (inString) continue;
      if (c === open) ++depth;
      else if (c === close) {
        if (depth === 0) { end = i; break; }
        --depth;
      }
    }
    if (end < 0) break;
    let block;
    try {
      block = JSON.parse(text.slice(at, end + 1));
    } catch (e) {
      at = end + 1;
      continue;
    }
    at = end + 1;
    for (const obj of Array.isArray(block) ? block : [block]) {
      if (obj === null || typeof obj !== 'object' || Array.isArray(obj)) continue;
      const row = [];
      flatten(obj, '', row);
      if (row.length) { ++rows; values += row.length / 2; }
    }
  }
  return [rows, values];
}

const data = fs.readFileSync(process.argv[2]);
const start = process.hrtime.bigint();
const cpu = process.cpuUsage();
const [rows, values] = run(data);
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
const used = process.cpuUsage(cpu);
const cpuSeconds = (used.user + used.system) / 1e6;
console.log(`${data.length} ${seconds.toFixed(6)} ${rows} ${values} ${cpuSeconds.toFixed(6)}`);
