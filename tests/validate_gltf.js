#!/usr/bin/env node
// Validates glTF/GLB files with the glTF validator (npm package gltf-validator).
//
//   node validate_gltf.js <gltf-validator package folder> <file>...
//
// Prints one line per file, "<numErrors> <numWarnings> <numInfos> <file>", followed by one
// indented line per error or warning ("  <code> <pointer>: <message>"). Exits with 2 when the
// validator cannot be loaded, 1 when a file could not be read or validated at all, else 0.
'use strict';

const fs = require('fs');
const path = require('path');

async function main() {
    const [packageDir, ...files] = process.argv.slice(2);
    if (!packageDir || files.length === 0) {
        console.error('usage: validate_gltf.js <gltf-validator folder> <file>...');
        return 2;
    }
    let validator;
    try {
        validator = require(path.resolve(packageDir));
    } catch (error) {
        console.error(`cannot load the validator from ${packageDir}: ${error.message}`);
        return 2;
    }
    let status = 0;
    for (const file of files) {
        try {
            const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
                uri: path.basename(file),
                maxIssues: 0,
                writeTimestamp: false,
            });
            const issues = report.issues;
            console.log(`${issues.numErrors} ${issues.numWarnings} ${issues.numInfos} ${file}`);
            for (const message of issues.messages) {
                if (message.severity > 1) continue;  // 0 errors, 1 warnings, 2 infos, 3 hints
                console.log(`  ${message.code} ${message.pointer || message.offset || ''}: ${message.message}`);
            }
        } catch (error) {
            console.log(`-1 -1 -1 ${file}`);
            console.log(`  cannot validate: ${error}`);
            status = 1;
        }
    }
    return status;
}

main().then((status) => process.exit(status));
