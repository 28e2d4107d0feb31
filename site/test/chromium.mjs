// Chromium as root, kept from the network: it reaches only what a page asks for.
export const chromium = {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--disable-default-apps', '--disable-extensions'],
};
