// The page over the browser's own Web MIDI (no stand-in): headless Chromium, with the SysEx
// permission granted through the DevTools protocol, updates whatever device serves the file's
// ports on this machine, and must end with the verdict given.
// Usage: node real_midi.js SITE_DIR FILE EXPECTED_VERDICT
'use strict';
const driver = require('./driver');

const [site, file, verdict] = process.argv.slice(2);

async function main() {
  const { server, base } = await driver.serve({ '/': site }, driver.hostHeaders(site));
  const browser = await driver.launch();
  const log = [];
  try {
    await browser.defaultBrowserContext().overridePermissions(base, ['midi', 'midi-sysex']);
    const tab = await browser.newPage();
    await tab.setViewport({ width: 548, height: 330 });
    tab.on('console', (message) => log.push(message.text()));
    tab.on('pageerror', (error) => log.push(`page error: ${error.message}`));
    const policy = await driver.watchPolicy(tab);
    await tab.goto(`${base}/index.html`, { timeout: 300000 });
    await Promise.race([tab.waitForSelector('body[data-state=idle]', { timeout: 300000 }), policy.violated]);
    const box = await Promise.race([driver.runUpdate(tab, file), policy.violated]);
    driver.same(box.text, verdict, 'the verdict');
    driver.check(policy.violations.length === 0, `the content security policy blocked: ${policy.violations.join('; ')}`);
    console.log(`the page said: ${box.text}`);
  } catch (error) {
    console.log(`FAIL: ${error.message}\nthe page's log:\n  ${log.join('\n  ')}`);
    process.exitCode = 1;
  } finally {
    await browser.close();
    server.close();
  }
}

main();
