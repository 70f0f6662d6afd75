'use strict';
// The receiver's pages in Debian's Chromium, headless, driven through the DevTools
// protocol: login, groups, a group, a report, downloads, and what a hostile or foreign
// description does. The database is the one the environment names (SQLite by default).
// Arguments: the source tree and the folder the screenshots go to. Prints "N passed, N failed".
const { execFileSync, spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

const [source, output] = process.argv.slice(2);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'brennlow-pages-'));
const env = { ...process.env, BRENNLOW_UPLOAD_DIR: path.join(scratch, 'uploads') };
const database = (env.BRENNLOW_DB_DSN || 'sqlite').split(':')[0];
const maintainer = ['triage', 'correct horse battery staple'];
let passed = 0, failed = 0;

function check(ok, what) {
    ok ? passed++ : failed++;
    if (!ok)
        console.log(`FAILED: ${what}`);
}

const day = (back) => new Date(Date.now() - back * 86400000).toISOString().slice(0, 10);
const b64 = (bytes) => Buffer.from(bytes, 'latin1').toString('base64');
// The crash kinds: exception, code and the frames of the faulting thread, all the program's.
const crashes = {
    write: ['Access Violation', 'C0000005', ['CWriteTest::Run', 'CTestPass::Start', 'main']],
    divide: ['Integer Divide By Zero', 'C0000094', ['CStats::Average', 'CReport::Print']],
    overflow: ['Stack Overflow', 'C00000FD', ['CPathList::Expand', 'CPathList::Expand']],
};
const signatures = Object.fromEntries(Object.entries(crashes).map(([kind, [name, , top]]) =>
    [kind, [name, ...top].join(' | ')]));
const systems = { 'Windows 7': '[6.1] Build 7601 Service Pack 1', 'Windows 10': '[10.0] Build 19045',
                  'Windows 11': '[10.0] Build 22631' };
const hostile = '<script>window.pwned = 1</script><img src=x onerror="window.pwned = 2">';
// Descriptions as the sender's code page wrote them, and what the page must show.
const descriptions = [
    ['Gr\xFC\xDFe aus K\xF6ln \x96 5 \x80, undefined \x81 bell \x07', 'Grüße aus Köln – 5 €, undefined \\x81 bell \\x07'],
    [Buffer.from('Überlauf beim Schreiben → Abbruch', 'utf8').toString('latin1'), 'Überlauf beim Schreiben → Abbruch'],
];

function report(kind, back, version, system, machine, description = '', email = '') {
    const [name, code, top] = crashes[kind];
    const stack = top.map((frame, i) => `${frame}(0x0,0x0,0x0,0x0) - Line ${12 + i} in Z:\\src\\${kind}.cpp`);
    const text = `${name} [0x${code}] at 0x004015B5 in Thread 420.\r\n<html><script>window.pwned = 4</script>\r\n\r\n` +
        `Intel64 Family 6 Model 158 GenuineIntel 3600 Mhz\r\n${system} ${systems[system]}\r\nx86 WOW64 Ansi\r\n\r\n` +
        `Stack:\r\n${stack.join('\r\n')}\r\n\r\nModuleList:\r\n` +
        ' 1372160 0x6B16A6F0  7.12.2026 12:30:40 0x0017925E 0x00400000    0.0000.00000.000000' +
        '    0.0000.00000.000000 - C:\\Program Files\\BrennlowCmd\\BrennlowCmd.exe\r\n';
    const fields = { a: 'r', p: 'BrennlowCmd', s: '', v: version, g: machine, e: email, x: description };
    return {
        received_at: `${day(back)} 10:0${back % 10}:00`, stack: stack.join('\n'),
        fields: Object.fromEntries(Object.entries(fields).map(([field, value]) => [field, b64(value)])),
        files: { d: ['BrennlowCmd.dmp', b64(`MDMP\x93\xA7\0\0${kind}-${back}-${machine}-${version}\xFF`)],
                 t: ['BrennlowCmd.txt', b64(text)] },
    };
}

const reports = [
    report('write', 0, '2.9.0', 'Windows 10', 'A1B2-C3D4-E5F6-0718'),
    report('write', 0, '2.10.0', 'Windows 11', 'A1B2-C3D4-E5F6-0718'),
    report('write', 2, '2.9.0', 'Windows 10', '0F1E-2D3C-4B5A-6978'),
    report('write', 5, '2.10.0', 'Windows 10', '1111-2222-3333-4444'),
    report('write', 6, '2.10.0', 'Windows 11', ''),
    report('divide', 1, '2.10.0', 'Windows 7', '5555-6666-7777-8888', hostile, '"><img src=x onerror="window.pwned = 3">'),
    report('divide', 3, '2.10.0', 'Windows 7', '5555-6666-7777-8888', descriptions[0][0], 'm\xFCller@example.org'),
    report('divide', 4, '2.10.0', 'Windows 7', '9999-AAAA-BBBB-CCCC', descriptions[1][0]),
    report('overflow', 40, '2.8.1', 'Windows 10', 'DDDD-EEEE-FFFF-0000'),
];

// The reports reach the database through the upload address, as a program sends them.
function seed(port, list) {
    return JSON.parse(execFileSync('php', [path.join(source, 'tests/receiver/Seed.php'), port],
                                   { env, input: JSON.stringify(list) }));
}

// PHP's server of the pages on a free port: [server, port].
async function startServer() {
    const port = await new Promise((resolve) => {
        const probe = net.createServer().listen(0, '127.0.0.1', () => {
            const { port } = probe.address();
            probe.close(() => resolve(port));
        });
    });
    fs.mkdirSync(path.join(scratch, 'sessions'));
    const server = spawn('php', ['-d', `session.save_path=${path.join(scratch, 'sessions')}`,
                                 '-S', `127.0.0.1:${port}`, '-t', path.join(source, 'receiver/public')],
                         { env: { ...env, PHP_CLI_SERVER_WORKERS: '2' }, stdio: 'ignore', detached: true });
    for (let tries = 0; tries < 100; tries++) {
        try {
            await fetch(`http://127.0.0.1:${port}/login.php`);
            return [server, port];
        } catch (error) {
            await new Promise((resolve) => setTimeout(resolve, 100));
        }
    }
    throw new Error('the receiver did not start');
}

// A form post outside the browser: [status, the session cookie it answered with].
async function post(base, page, fields, cookie = '') {
    const answer = await fetch(`${base}/${page}`, {
        method: 'POST', redirect: 'manual', body: new URLSearchParams(fields),
        headers: { cookie, 'content-type': 'application/x-www-form-urlencoded' },
    });
    return [answer.status, (answer.headers.get('set-cookie') || '').split(';')[0] || cookie];
}

async function loginForm(base) {
    const answer = await fetch(`${base}/login.php`);
    const token = (await answer.text()).match(/name="csrf" value="([0-9a-f]+)"/)[1];
    return [token, answer.headers.get('set-cookie').split(';')[0]];
}

async function refusedWithoutLogin(base, ids) {
    const pages = ['index.php', 'index.php?version=2.10.0', `group.php?id=${ids.write}`,
                   `crash.php?id=${ids.report}`, `download.php?id=${ids.report}&file=d`,
                   `download.php?id=${ids.report}&file=t`];
    for (const page of pages) {
        const answer = await fetch(`${base}/${page}`, { redirect: 'manual' });
        const body = await answer.text();
        check(answer.status === 303 && /^login\.php\?next=/.test(answer.headers.get('location')) &&
              !body.includes('CWriteTest') && !body.includes('MDMP'),
              `${page} without a login is sent to the login page (${answer.status})`);
    }
}

async function formsNeedToken(base) {
    for (const [what, token] of [['no token', null], ['a wrong token', 'ab'.repeat(32)]]) {
        const [, cookie] = await loginForm(base);
        const fields = { name: maintainer[0], password: maintainer[1], ...(token ? { csrf: token } : {}) };
        const [status, session] = await post(base, 'login.php', fields, cookie);
        const after = await fetch(`${base}/index.php`, { redirect: 'manual', headers: { cookie: session } });
        check(status === 403 && after.status === 303, `a login with ${what} is refused (${status}, ${after.status})`);
    }
}

async function failedLoginsSlowDown(base) {
    const statuses = [];
    for (const password of ['guess 1', 'guess 2', 'guess 3', 'guess 4', 'guess 5', maintainer[1]]) {
        const [token, cookie] = await loginForm(base);
        statuses.push((await post(base, 'login.php', { csrf: token, name: maintainer[0], password }, cookie))[0]);
    }
    check(statuses.join() === '401,401,401,401,401,429',
          `after five failures even the right password waits (${statuses.join()})`);
}

const texts = (page, selector) => page.$$eval(selector, (nodes) => nodes.map((node) => node.innerText.trim()));
// The groups page shows a signature's frames one a line, beside its exception.
const frames = (...kinds) => kinds.map((kind) => signatures[kind].split(' | ').slice(1).join('\n'));

async function groupsPage(page, base, ids) {
    await page.goto(`${base}/index.php`);
    check(page.url().includes('login.php?next=index.php'), 'the browser is sent to the login page');
    await page.type('input[name=name]', maintainer[0]);
    await page.type('input[name=password]', maintainer[1]);
    await Promise.all([page.waitForNavigation(), page.click('form.login button')]);
    const rows = await page.$$eval('table.groups tbody tr', (trs) => trs.map((tr) =>
        [...tr.querySelectorAll('td')].slice(1).map((td) => td.innerText.trim())));
    check(JSON.stringify(rows.map((row) => row[0])) === JSON.stringify(frames('write', 'divide', 'overflow')),
          `the groups, most reports first: ${rows.map((row) => row[0])}`);
    check(JSON.stringify(rows[0].slice(1, 6)) ===
          JSON.stringify(['Access Violation', '5', '3', '2.9.0', '2.10.0']),
          `the first group's exception, reports, machines, versions: ${rows[0].slice(1, 6)}`);
    const bar = await page.$eval(`a[href="group.php?id=${ids.write}"]`, (link) =>
        link.closest('tr').querySelector('svg').lastElementChild.textContent);
    check(bar === `${day(0)}: 2 reports`, `the chart's last day counts today's reports: ${bar}`);
    await page.screenshot({ path: path.join(output, `receiver-groups-${database}.png`), fullPage: true });

    const filters = [
        ['version=2.8.1', frames('overflow')],
        ['system=Windows+7', frames('divide')],
        [`from=${day(3)}&to=${day(1)}`, frames('divide', 'write')],
        ['product=%FF%FE', frames('write', 'divide', 'overflow')],
    ];
    for (const [query, expected] of filters) {
        await page.goto(`${base}/index.php?${query}`);
        const shown = await texts(page, 'table.groups td.sig');
        check(JSON.stringify(shown) === JSON.stringify(expected), `the filter ${query} shows ${shown}`);
    }
}

async function groupPage(page, base, ids) {
    await page.goto(`${base}/index.php`);
    await Promise.all([page.waitForNavigation(), page.click(`a[href="group.php?id=${ids.write}"]`)]);
    const versions = await page.$$eval('table.breakdown', (tables) =>
        [...tables[0].querySelectorAll('tbody tr')].map((tr) => tr.textContent));
    check(versions.join() === '2.10.0 3,2.9.0 2'.replace(/ /g, ''), `the counts by version: ${versions}`);
    const stack = await page.$eval('pre.stack', (pre) => pre.textContent);
    check(stack === reports[1].stack, 'the stack of the latest report');
    check((await page.$$('table.reports tbody tr')).length === 5, 'the group lists its five reports');
    await page.screenshot({ path: path.join(output, `receiver-group-${database}.png`), fullPage: true });
}

async function reportPages(page, base, ids) {
    await page.goto(`${base}/crash.php?id=${ids.hostile}`);
    const shown = await page.$eval('.description', (node) => [node.textContent, node.querySelectorAll('*').length]);
    check(shown[0] === hostile && shown[1] === 0, 'a description with markup shows as text');
    check(await page.evaluate(() => window.pwned === undefined), 'no script of the description or e-mail ran');
    for (const [index, [, expected]] of descriptions.entries()) {
        await page.goto(`${base}/crash.php?id=${ids.foreign[index]}`);
        const text = await page.$eval('.description', (node) => node.textContent);
        const facts = await page.$$eval('.facts dd', (dds) => dds.map((dd) => dd.textContent));
        // The first one's Windows-1252 e-mail shows its characters too.
        check(text === expected && (index || facts.includes('müller@example.org')),
              `the description shows as "${text}", the facts as ${facts}`);
    }

    // The page's own links, fetched with the browser's session (the pages allow no script to fetch).
    await page.goto(`${base}/crash.php?id=${ids.hostile}`);
    const links = await page.$$eval('.files a', (as) => as.map((a) => a.href));
    const cookie = (await page.cookies()).map((c) => `${c.name}=${c.value}`).join('; ');
    for (const [field, seeded, name] of [['d', reports[5].files.d[1], 'minidump.dmp'], ['t', reports[5].files.t[1], 'report.txt']]) {
        const response = await fetch(links.find((link) => link.endsWith(`file=${field}`)), { headers: { cookie } });
        const answer = { headers: Object.fromEntries(response.headers),
                         body: Buffer.from(await response.arrayBuffer()).toString('base64') };
        check(answer.body === seeded, `the file ${field} downloads byte for byte`);
        check(answer.headers['content-disposition'] === `attachment; filename="brennlow-${ids.hostile}-${name}"` &&
              answer.headers['x-content-type-options'] === 'nosniff' && !/html/.test(answer.headers['content-type']),
              `the file ${field} comes as an attachment: ${JSON.stringify(answer.headers)}`);
    }
}

async function logOut(page, base, ids) {
    await page.goto(`${base}/index.php`);
    await Promise.all([page.waitForNavigation(), page.click('form.account button')]);
    await page.goto(`${base}/group.php?id=${ids.write}`);
    check(page.url().includes('login.php'), 'after logging out the pages are refused again');
}

(async () => {
    fs.mkdirSync(env.BRENNLOW_UPLOAD_DIR);
    execFileSync('php', [path.join(source, 'receiver/bin/add-maintainer.php'), maintainer[0]],
                 { env, input: maintainer[1] + '\n' });
    const stored = execFileSync('php', ['-r', `require '${source}/receiver/src/Db.php';
        echo db()->query('SELECT password_hash FROM maintainers')->fetchColumn();`], { env }).toString();
    check(/^\$2y\$/.test(stored) && !stored.includes(maintainer[1]), `only a hash of the password is kept: ${stored}`);
    const [server, port] = await startServer();
    const base = `http://127.0.0.1:${port}`;
    const seeded = seed(port, reports);
    const ids = { write: seeded[0].group, report: seeded[0].report, hostile: seeded[5].report,
                  foreign: [seeded[6].report, seeded[7].report] };
    const browser = await puppeteer.launch({
        executablePath: '/usr/bin/chromium', headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(scratch, 'chromium')}`,
               '--window-size=1280,900'],
        defaultViewport: { width: 1280, height: 900 },
    });
    try {
        await refusedWithoutLogin(base, ids);
        await formsNeedToken(base);
        const page = await browser.newPage();
        page.on('dialog', (dialog) => { check(false, `a dialog opened: ${dialog.message()}`); dialog.dismiss(); });
        await groupsPage(page, base, ids);
        await groupPage(page, base, ids);
        await reportPages(page, base, ids);
        await logOut(page, base, ids);
        await failedLoginsSlowDown(base);
    } catch (error) {
        check(false, error.stack);
    } finally {
        await browser.close();
        process.kill(-server.pid); // the server with its workers
        fs.rmSync(scratch, { recursive: true, force: true });
    }
    console.log(`${passed} passed, ${failed} failed`);
    process.exit(failed ? 1 : 0);
})();
