<?php
// Everything the pages show goes through h(): texts from uploads arrive in whatever code
// page the sender's system used, and may hold markup meant to run in a maintainer's browser.
require_once __DIR__ . '/Auth.php';
require_once __DIR__ . '/Text.php';

// Control characters, C1 controls and the marks that reorder a line: shown as escapes, for
// they would be invisible or would disguise the text around them.
const HIDDEN_CHARACTERS = '/[\x00-\x08\x0B\x0C\x0E-\x1F\x7F]|\xC2[\x80-\x9F]|\xE2\x80[\x8E\x8F\xAA-\xAE]|\xE2\x81[\xA6-\xA9]/';

function visible_escape(string $character): string
{
    $bytes = array_values(unpack('C*', $character));
    $code = match (count($bytes)) {
        1 => $bytes[0],
        2 => ($bytes[0] & 0x1F) << 6 | $bytes[1] & 0x3F,
        default => ($bytes[0] & 0x0F) << 12 | ($bytes[1] & 0x3F) << 6 | $bytes[2] & 0x3F,
    };
    return $code < 0x100 ? sprintf('\x%02X', $code) : sprintf('\u%04X', $code);
}

// Text as it can be shown: valid UTF-8 as it is, anything else read as Windows-1252, the
// code page the sender's form most likely used; never a broken character.
function readable(string $bytes): string
{
    if (!preg_match('//u', $bytes))
        $bytes = windows_1252_to_utf8($bytes);
    return preg_replace_callback(HIDDEN_CHARACTERS, fn($match) => visible_escape($match[0]), $bytes);
}

// The one escape helper: safe in element content and in quoted attributes.
function h($text): string
{
    return htmlspecialchars(readable((string)$text), ENT_QUOTES | ENT_HTML5, 'UTF-8');
}

// At most $length characters of a text, with an ellipsis when it was longer.
function shortened(string $bytes, int $length): string
{
    $text = readable($bytes);
    if (preg_match('/^.{' . $length . '}(?=.)/su', $text, $start))
        return $start[0] . '…';
    return $text;
}

// No script runs on these pages, none may be framed, and none is kept in a cache.
function send_page_headers(): void
{
    header("Content-Security-Policy: default-src 'none'; style-src 'self'; img-src 'self' data:; " .
           "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    header('X-Content-Type-Options: nosniff');
    header('X-Frame-Options: DENY');
    header('Referrer-Policy: same-origin');
    header('Cache-Control: no-store');
}

// A page's frame up to its content; $crumbs are [label, address or null] after "Groups".
function page_start(string $title, array $crumbs = []): void
{
    send_page_headers();
    header('Content-Type: text/html; charset=utf-8');
    $trail = '<a href="index.php">Groups</a>';
    foreach ($crumbs as [$label, $address])
        $trail .= ' <span class="sep">›</span> ' .
                  ($address === null ? h($label) : '<a href="' . h($address) . '">' . h($label) . '</a>');
    $account = '';
    $maintainer = current_maintainer();
    if ($maintainer !== null)
        $account = '<form class="account" method="post" action="logout.php">' . csrf_field() .
                   '<span>' . h($maintainer) . '</span> <button type="submit">Log out</button></form>';
    echo '<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">',
         '<meta name="viewport" content="width=device-width, initial-scale=1">',
         '<title>', h($title), ' · BrennlowCmd crash reports</title>',
         '<link rel="stylesheet" href="style.css"></head><body>',
         '<header class="top"><span class="brand">BrennlowCmd crash reports</span>',
         $maintainer !== null ? '<nav>' . $trail . '</nav>' : '', $account, '</header><main>',
         '<h1>', h($title), '</h1>';
}

function page_end(): void
{
    echo '</main></body></html>';
}

// Ends the request with a short page that says why.
function refuse_page(int $status, string $message): never
{
    http_response_code($status);
    page_start($message);
    page_end();
    exit;
}
