<?php
// Text from uploads arrives in whatever code page the sender's system used. The receiver
// keeps UTF-8 as it is and reads anything else as Windows-1252, the most likely one.

// Characters 0x80-0x9F of Windows-1252; null where the code page has none.
const WINDOWS_1252_HIGH = [
    0x20AC, null, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, null, 0x017D, null,
    null, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, null, 0x017E, 0x0178,
];

function utf8_character(int $code): string
{
    if ($code < 0x80)
        return chr($code);
    if ($code < 0x800)
        return chr(0xC0 | $code >> 6) . chr(0x80 | $code & 0x3F);
    return chr(0xE0 | $code >> 12) . chr(0x80 | $code >> 6 & 0x3F) . chr(0x80 | $code & 0x3F);
}

// A byte without a character in Windows-1252 becomes the C1 control of the same number,
// which readable() then shows as an escape of that byte.
function windows_1252_to_utf8(string $bytes): string
{
    return preg_replace_callback('/[\x80-\xFF]/', function ($match) {
        $byte = ord($match[0]);
        return utf8_character($byte < 0xA0 ? WINDOWS_1252_HIGH[$byte - 0x80] ?? $byte : $byte);
    }, $bytes);
}

// Text columns hold UTF-8 (the bytes themselves stay on disk).
function utf8_text(string $text): string
{
    $text = str_replace("\0", '', $text);
    return preg_match('//u', $text) ? $text : windows_1252_to_utf8($text);
}
