#!/usr/bin/env node
// An independent BACnet/IP peer for the interoperability tests, built on a
// BACnet stack from the npm registry (installed into the build folder by
// tests/interop/bacnet-peer-install.sh). Two modes:
//
//   bacnet_peer.js ask TARGET_ADDRESS PORT [--local ADDRESS] [--timeout-ms N]
//     From an ephemeral UDP port on ADDRESS (default 127.0.0.1) sends a
//     directed Who-Is to TARGET:PORT, then ReadProperty of the Device's
//     object-name, model-name and vendor-identifier. Prints one JSON line
//     {"address","port","instance","maxApdu","segmentation","vendorId",
//      "name","model","vendor"} and exits 0; exits 1 with a message when no
//     answer came in time (default 5000 ms).
//
//   bacnet_peer.js device --address 127.0.0.x --port P --instance N --name TEXT
//                         [--vendor N]
//     Acts as a BACnet device until killed: answers Who-Is (within its range)
//     with I-Am, and ReadProperty of its Device object's object-name,
//     object-identifier, object-type, vendor-identifier and model-name
//     ("bacnet_peer"); other properties
//     get an unknown-property error, other objects unknown-object. Prints
//     "bacnet_peer: device N on ADDRESS:P" once bound.
//
// Exit 77 when the BACnet stack is not installed, 2 on a usage error.
// Only loopback addresses are accepted.
'use strict';

const dgram = require('dgram');
const path = require('path');
const { EventEmitter } = require('events');

const DeviceType = 8;
const Property = { ObjectIdentifier: 75, ObjectName: 77, ObjectType: 79, ModelName: 70, VendorIdentifier: 120 };
const Tag = { Unsigned: 2, CharacterString: 7, Enumerated: 9, ObjectIdentifier: 12 };
const ReadPropertyService = 12;
const ErrorClass = { Object: 1, Property: 2 };
const ErrorCode = { UnknownObject: 31, UnknownProperty: 32 };
const NoSegmentation = 3;
const WildcardInstance = 4194303;

function fail(code, message) {
    process.stderr.write(`bacnet_peer: ${message}\n`);
    process.exit(code);
}

// The stack lives in the build folder, not in the repository: BACNET_PEER_DIR
// names the folder holding its node_modules.
function loadStack() {
    const places = [process.env.BACNET_PEER_DIR, path.join(__dirname, 'bacnet-peer')].filter(Boolean);
    for (const place of places) {
        try {
            return require(require.resolve('@bacnet-js/client', { paths: [place] }));
        } catch (e) {
            // try the next place
        }
    }
    fail(77, `the npm package @bacnet-js/client is not installed (looked in ${places.join(', ')}; ` +
        'tests/interop/bacnet-peer-install.sh BUILD_DIR installs it)');
    return null;
}

// The stack's own UDP transport reads port 0 as "the standard port" and binds
// every interface when asked for none; this one binds exactly the loopback
// address and port given (0: an ephemeral port) and reports senders as
// ADDRESS:PORT, the form the stack sends replies to.
class LoopbackTransport extends EventEmitter {
    constructor(address, port) {
        super();
        this._address = address;
        this._port = port;
        this._socket = dgram.createSocket({ type: 'udp4', reuseAddr: false });
        this._socket.on('message', (msg, rinfo) => this.emit('message', msg, `${rinfo.address}:${rinfo.port}`));
        this._socket.on('listening', () => this.emit('listening', this._socket.address()));
        this._socket.on('error', (err) => this.emit('error', err));
        this._socket.on('close', () => this.emit('close'));
    }
    getBroadcastAddress() {
        // Never used for a broadcast: every request here is directed.
        return `${this._address}:${this._port}`;
    }
    getMaxPayload() {
        return 1482;
    }
    send(buffer, offset, receiver) {
        const [address, port] = String(receiver).split(':');
        this._socket.send(buffer, 0, offset, Number(port) || 47808, address);
    }
    open() {
        this._socket.bind(this._port, this._address);
    }
    close() {
        this._socket.close();
    }
    boundPort() {
        return this._socket.address().port;
    }
}

function parseOptions(args, known) {
    const options = {};
    const positional = [];
    for (let i = 0; i < args.length; ++i) {
        const arg = args[i];
        if (!arg.startsWith('--')) {
            positional.push(arg);
            continue;
        }
        const name = arg.slice(2);
        if (!known.includes(name) || i + 1 >= args.length)
            fail(2, `unknown option or missing value: ${arg}`);
        options[name] = args[++i];
    }
    return { options, positional };
}

function loopback(address) {
    if (!/^127\.\d{1,3}\.\d{1,3}\.\d{1,3}$/.test(address || ''))
        fail(2, `not a loopback address: ${address}`);
    return address;
}

function whole(text, min, max, what) {
    const value = Number(text);
    if (!/^\d+$/.test(text || '') || value < min || value > max)
        fail(2, `${what} wants a whole number from ${min} to ${max}, not "${text}"`);
    return value;
}

function makeClient(Client, address, port, timeoutMs) {
    const transport = new LoopbackTransport(address, port);
    const client = new Client({ transport, apduTimeout: timeoutMs });
    client.on('error', (err) => fail(1, `socket error: ${err.message}`));
    return { client, transport };
}

function ask(Client, args) {
    const { options, positional } = parseOptions(args, ['local', 'timeout-ms']);
    if (positional.length !== 2)
        fail(2, 'usage: bacnet_peer.js ask TARGET_ADDRESS PORT [--local ADDRESS] [--timeout-ms N]');
    const target = loopback(positional[0]);
    const port = whole(positional[1], 1, 65535, 'PORT');
    const timeoutMs = whole(options['timeout-ms'] || '5000', 100, 60000, '--timeout-ms');
    const { client } = makeClient(Client, loopback(options.local || '127.0.0.1'), 0, Math.min(timeoutMs, 2000));
    const receiver = { address: `${target}:${port}` };
    setTimeout(() => fail(1, `no complete answer from ${target}:${port} within ${timeoutMs} ms`), timeoutMs).unref();

    const readString = async (instance, property) => {
        const result = await client.readProperty(receiver, { type: DeviceType, instance }, property);
        return result.values[0].value;
    };
    client.on('iAm', async (content) => {
        // Only the asked device's answer counts.
        if (content.header.sender.address !== receiver.address)
            return;
        const iAm = content.payload;
        try {
            const answer = {
                address: target,
                port,
                instance: iAm.deviceId,
                maxApdu: iAm.maxApdu,
                segmentation: iAm.segmentation,
                vendorId: iAm.vendorId,
                name: await readString(iAm.deviceId, Property.ObjectName),
                model: await readString(iAm.deviceId, Property.ModelName),
                vendor: await readString(iAm.deviceId, Property.VendorIdentifier),
            };
            process.stdout.write(`${JSON.stringify(answer)}\n`);
            client.close();
            process.exit(0);
        } catch (e) {
            fail(1, `ReadProperty failed: ${e.message}`);
        }
    });
    client.on('listening', () => client.whoIs(receiver));
}

function device(Client, args) {
    const { options, positional } = parseOptions(args, ['address', 'port', 'instance', 'name', 'vendor']);
    if (positional.length !== 0 || !options.address || !options.port || !options.instance || options.name === undefined)
        fail(2, 'usage: bacnet_peer.js device --address 127.0.0.x --port P --instance N --name TEXT [--vendor N]');
    const address = loopback(options.address);
    const port = whole(options.port, 1, 65535, '--port');
    const instance = whole(options.instance, 0, WildcardInstance - 1, '--instance');
    const vendor = whole(options.vendor || '998', 0, 65535, '--vendor');
    const name = options.name;
    const { client, transport } = makeClient(Client, address, port, 3000);

    client.on('whoIs', (content) => {
        const { lowLimit, highLimit } = content.payload;
        if (lowLimit !== undefined && highLimit !== undefined && (instance < lowLimit || instance > highLimit))
            return;
        client.iAmResponse(content.header.sender, instance, NoSegmentation, vendor);
    });
    client.on('readProperty', (content) => {
        const sender = content.header.sender;
        const invokeId = content.invokeId;
        const { objectId, property } = content.payload;
        if (objectId.type !== DeviceType || (objectId.instance !== instance && objectId.instance !== WildcardInstance)) {
            client.errorResponse(sender, ReadPropertyService, invokeId, ErrorClass.Object, ErrorCode.UnknownObject);
            return;
        }
        const values = {
            [Property.ObjectName]: { type: Tag.CharacterString, value: name },
            [Property.ObjectIdentifier]: { type: Tag.ObjectIdentifier, value: { type: DeviceType, instance } },
            [Property.ObjectType]: { type: Tag.Enumerated, value: DeviceType },
            [Property.VendorIdentifier]: { type: Tag.Unsigned, value: vendor },
            [Property.ModelName]: { type: Tag.CharacterString, value: 'bacnet_peer' },
        };
        const value = values[property.id];
        if (!value) {
            client.errorResponse(sender, ReadPropertyService, invokeId, ErrorClass.Property, ErrorCode.UnknownProperty);
            return;
        }
        client.readPropertyResponse(sender, invokeId, { type: DeviceType, instance }, property, [value]);
    });
    client.on('listening', () => {
        process.stdout.write(`bacnet_peer: device ${instance} on ${address}:${transport.boundPort()}\n`);
    });
    const stop = () => {
        client.close();
        process.exit(0);
    };
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
}

function main() {
    const [mode, ...args] = process.argv.slice(2);
    if (mode !== 'ask' && mode !== 'device')
        fail(2, 'usage: bacnet_peer.js ask TARGET_ADDRESS PORT [--local ADDRESS] | ' +
            'device --address 127.0.0.x --port P --instance N --name TEXT');
    const stack = loadStack();
    const Client = stack.default || stack;
    if (mode === 'ask')
        ask(Client, args);
    else
        device(Client, args);
}

main();
