// Checks one glTF file (.glb, or .gltf with its .bin and pictures beside it)
// with the Khronos validator and prints its counts and messages:
//   errors N / warnings N / infos N / hints N, then one line per message.
// usage: node validate.js VALIDATOR_FOLDER FILE
// exit status: 0 no errors, 1 errors, 2 the file or the validator could not be read.
'use strict';
const fs = require('fs');
const path = require('path');

const [folder, file] = process.argv.slice(2);
if (!folder || !file) {
  console.error('usage: node validate.js VALIDATOR_FOLDER FILE');
  process.exit(2);
}
const validator = require(path.resolve(folder, 'node_modules', 'gltf-validator'));
let bytes;
try {
  bytes = fs.readFileSync(file);
} catch (e) {
  console.error(String(e));
  process.exit(2);
}
validator
  .validateBytes(new Uint8Array(bytes), {
    uri: path.basename(file),
    maxIssues: 0,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (err, data) =>
          err ? reject(String(err)) : resolve(new Uint8Array(data)));
      }),
  })
  .then((report) => {
    const issues = report.issues;
    console.log(`errors ${issues.numErrors}`);
    console.log(`warnings ${issues.numWarnings}`);
    console.log(`infos ${issues.numInfos}`);
    console.log(`hints ${issues.numHints}`);
    for (const m of issues.messages) console.log(`${m.severity} ${m.code} ${m.pointer || ''} ${m.message}`);
    process.exit(issues.numErrors === 0 ? 0 : 1);
  })
  .catch((error) => {
    console.error(String(error));
    process.exit(2);
  });
