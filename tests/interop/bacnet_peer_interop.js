#!/usr/bin/env node
// interop_bacnet_peer: ravelin-sim's BACnet/IP side against an independent
// BACnet stack (bacnet_peer.js). The peer's "ask" gets the identity the
// simulator holds, at start and after new instance and name registers were
// written over Modbus TCP; the peer's "device" mode, which the tool's tests
// use as a second unit, answers the same questions.
// Usage: bacnet_peer_interop.js PATH/TO/ravelin-sim
// Exit 0 passed, 1 failed, 77 skipped (the peer is not installed and CI is not set).
'use strict';

const { spawn, execFile } = require('child_process');
const dgram = require('dgram');
const net = require('net');
const path = require('path');

const peerScript = path.join(__dirname, 'bacnet_peer.js');
const StepTimeoutMs = 10000;
const children = new Set();

function finish(code, message) {
    if (message)
        process.stdout.write(`interop_bacnet_peer: ${message}\n`);
    for (const child of children)
        child.kill('SIGKILL');
    process.exit(code);
}

function check(condition, message) {
    if (!condition)
        finish(1, `FAIL: ${message}`);
}

function peerInstalled() {
    const places = [process.env.BACNET_PEER_DIR, path.join(__dirname, 'bacnet-peer')].filter(Boolean);
    return places.some((place) => {
        try {
            require.resolve('@bacnet-js/client', { paths: [place] });
            return true;
        } catch (e) {
            return false;
        }
    });
}

function freeUdpPort(address) {
    return new Promise((resolve, reject) => {
        const socket = dgram.createSocket('udp4');
        socket.on('error', reject);
        socket.bind(0, address, () => {
            const { port } = socket.address();
            socket.close(() => resolve(port));
        });
    });
}

// Starts a process and resolves with the first match of `ready` in its output.
function startProcess(command, args, ready) {
    return new Promise((resolve, reject) => {
        const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'] });
        children.add(child);
        let output = '';
        const timer = setTimeout(() => reject(new Error(`${path.basename(command)} not ready: ${output}`)), StepTimeoutMs);
        const take = (chunk) => {
            output += chunk;
            const match = ready.exec(output);
            if (match) {
                clearTimeout(timer);
                resolve({ child, match });
            }
        };
        child.stdout.on('data', take);
        child.stderr.on('data', take);
        child.on('exit', (code) => reject(new Error(`${path.basename(command)} ended (${code}): ${output}`)));
    });
}

// Stops a child by its pid: SIGTERM, then SIGKILL after a bounded wait.
function stopProcess(child) {
    return new Promise((resolve) => {
        if (child.exitCode !== null || child.signalCode !== null) {
            children.delete(child);
            resolve();
            return;
        }
        const timer = setTimeout(() => child.kill('SIGKILL'), 3000);
        child.on('exit', () => {
            clearTimeout(timer);
            children.delete(child);
            resolve();
        });
        child.kill('SIGTERM');
    });
}

function ask(address, port, extra = []) {
    return new Promise((resolve) => {
        execFile(process.execPath, [peerScript, 'ask', address, String(port), ...extra],
            { timeout: StepTimeoutMs, env: process.env }, (error, stdout, stderr) => {
                if (error)
                    finish(1, `FAIL: ask ${address}:${port}: ${stderr || error.message}`);
                resolve(JSON.parse(stdout.trim()));
            });
    });
}

// One Modbus TCP write-block request (function 109) to unit 22, answered.
function writeBacnetBlock(port, start, words) {
    return new Promise((resolve, reject) => {
        const pdu = Buffer.alloc(6 + 2 * words.length);
        pdu.writeUInt8(109, 0);
        pdu.writeUInt16BE(start, 1);
        pdu.writeUInt16BE(words.length, 3);
        pdu.writeUInt8(2 * words.length, 5);
        words.forEach((word, i) => pdu.writeUInt16BE(word, 6 + 2 * i));
        const header = Buffer.from([0, 1, 0, 0, 0, 0, 22]);
        header.writeUInt16BE(pdu.length + 1, 4);
        const socket = net.connect(port, '127.0.0.1', () => socket.write(Buffer.concat([header, pdu])));
        socket.setTimeout(StepTimeoutMs, () => reject(new Error('no Modbus reply')));
        let reply = Buffer.alloc(0);
        socket.on('data', (chunk) => {
            reply = Buffer.concat([reply, chunk]);
            if (reply.length >= 12) {
                socket.destroy();
                check(reply[7] === 109, `Modbus write at ${start} answered ${reply.toString('hex')}`);
                resolve();
            }
        });
        socket.on('error', reject);
    });
}

// The name block: tag 7, length + 1, character set 0, the characters, zeros.
function nameWords(name) {
    const bytes = Buffer.alloc(22);
    bytes[0] = 7;
    bytes[1] = name.length + 1;
    Buffer.from(name, 'latin1').copy(bytes, 3);
    return Array.from({ length: 11 }, (_, i) => bytes.readUInt16BE(2 * i));
}

function expectIdentity(answer, instance, name, vendor, model, maxApdu, where) {
    const expected = { instance, name, vendor, vendorId: vendor, model, maxApdu, segmentation: 3 };
    for (const [key, value] of Object.entries(expected))
        check(answer[key] === value, `${where}: ${key} is ${JSON.stringify(answer[key])}, not ${JSON.stringify(value)}`);
}

async function main() {
    const simulator = process.argv[2];
    if (!simulator)
        finish(2, 'usage: bacnet_peer_interop.js PATH/TO/ravelin-sim');
    if (!peerInstalled()) {
        process.stdout.write('interop_bacnet_peer: the npm package @bacnet-js/client is not installed ' +
            '(scripts/setup-deps or tests/interop/bacnet-peer-install.sh BUILD_DIR installs it)\n');
        finish(process.env.CI !== undefined ? 1 : 77,
            process.env.CI !== undefined ? 'CI is set: a missing peer fails the test' : 'skipped');
    }

    const bacnetPort = await freeUdpPort('127.0.0.1');
    const sim = await startProcess(simulator,
        ['--listen', '127.0.0.1:0', '--bacnet-port', String(bacnetPort), '--no-animate'],
        /listening on 127\.0\.0\.1:(\d+)[\s\S]*BACnet\/IP on 127\.0\.0\.1:\d+/);
    const modbusPort = Number(sim.match[1]);

    expectIdentity(await ask('127.0.0.1', bacnetPort), 5173, 'Ravelin-5173', 999, 'Ravelin simulator', 1476,
        'factory identity');

    // What a Send of the BACnet page writes: the largest valid instance and a
    // name of the full 19 characters.
    const instance = 4194302;
    const name = 'Interop 19 chars ok';
    await writeBacnetBlock(modbusPort, 0, [3076, 512 + Math.floor(instance / 65536), instance % 65536]);
    await writeBacnetBlock(modbusPort, 3, nameWords(name));
    expectIdentity(await ask('127.0.0.1', bacnetPort, ['--local', '127.0.0.2']), instance, name, 999,
        'Ravelin simulator', 1476, 'identity after the Modbus writes');
    await stopProcess(sim.child);

    const devicePort = await freeUdpPort('127.0.0.3');
    const device = await startProcess(process.execPath,
        [peerScript, 'device', '--address', '127.0.0.3', '--port', String(devicePort), '--instance', '77',
            '--name', 'Second unit'],
        /bacnet_peer: device 77 on 127\.0\.0\.3:\d+/);
    expectIdentity(await ask('127.0.0.3', devicePort), 77, 'Second unit', 998, 'bacnet_peer', 1482,
        'the peer as a device');
    await stopProcess(device.child);
    finish(0, 'passed');
}

main().catch((error) => finish(1, `FAIL: ${error.message}`));
