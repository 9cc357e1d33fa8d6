// Runs the Khronos glTF validator over the .glb files named on the command
// line; prints each file's errors and warnings and a summary line. Exits 1 when
// any file has an error or a warning.
const validator = require('gltf-validator');
const fs = require('fs');

(async () => {
  let errors = 0;
  let warnings = 0;
  const files = process.argv.slice(2);
  for (const file of files) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)));
    errors += report.issues.numErrors;
    warnings += report.issues.numWarnings;
    for (const m of report.issues.messages) {
      if (m.severity <= 1) console.log(`${file}: ${m.code} ${m.message} ${m.pointer || ''}`);
    }
  }
  console.log(`${files.length} files: ${errors} errors, ${warnings} warnings`);
  process.exit(errors + warnings === 0 && files.length > 0 ? 0 : 1);
})();
