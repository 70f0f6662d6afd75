<?php
// A crash's signature: the exception name and the first frames of the faulting thread that
// belong to the program, joined by " | ". Frames in the system's modules, frames that the
// skip list names (the C runtime, the crash path itself) and bare addresses (which change
// from run to run) are passed over; a frame that has no symbol stays "module@0xOFFSET".

const SIGNATURE_FRAMES = 3;
const SIGNATURE_SEPARATOR = ' | ';
const UNPARSED = 'unparsed';
const STACK_FRAME = '/^(.*)\((?:0x[0-9A-F]+,){3}0x[0-9A-F]+\)( - Line \d+ in .*)?$/';

function skip_list_file(): string
{
    return config_value('BRENNLOW_SKIP_FRAMES', __DIR__ . '/../skip-frames.txt');
}

// The skip list: one pattern a line, "*" standing for any text; "#" starts a comment.
function skip_patterns(string $file): array
{
    $patterns = [];
    foreach (is_readable($file) ? file($file, FILE_IGNORE_NEW_LINES) : [] as $line)
    {
        $line = trim(preg_replace('/#.*/', '', $line));
        if ($line !== '')
            $patterns[] = '/^' . str_replace('\*', '.*', preg_quote($line, '/')) . '$/';
    }
    return $patterns;
}

// The module's file names (lower case) that lie in the system's folders: Windows' own and,
// under Wine, its host libraries.
function system_modules(array $modules): array
{
    $system = [];
    foreach ($modules as $module)
        if (preg_match('#^[a-z]:\\\\windows\\\\#i', $module['path']) || strpos($module['path'], '\\') === false)
            $system[strtolower(preg_replace('/\.[^.]*$/', '', $module['name']))] = true;
    return $system;
}

// The frame's name for the signature, or null for a frame to pass over.
function frame_name(string $line, array $system): ?string
{
    if (!preg_match(STACK_FRAME, $line, $frame))
        return null;
    $symbol = $frame[1];
    if (empty($frame[2]) && preg_match('/^([^:]+):(?!:)(.*)$/', $symbol, $placed))
    {
        if (isset($system[strtolower($placed[1])]))
            return null;
        $symbol = $placed[2];
    }
    return preg_match('/^0x[0-9A-F]+$/', $symbol) ? null : $symbol;
}

function signature_frames(array $stack, array $modules, array $patterns): array
{
    $system = system_modules($modules);
    $frames = [];
    foreach ($stack as $line)
    {
        $name = frame_name($line, $system);
        if ($name === null || array_filter($patterns, fn($p) => preg_match($p, $name)))
            continue;
        $frames[] = $name;
        if (count($frames) === SIGNATURE_FRAMES)
            break;
    }
    return $frames;
}

// [exception name, signature] of a parsed report (null: one that could not be parsed).
function report_signature(?array $report, array $patterns): array
{
    if ($report === null)
        return [UNPARSED, UNPARSED];
    $frames = signature_frames($report['stack'], $report['modules'], $patterns);
    return [$report['exception_name'],
            implode(SIGNATURE_SEPARATOR, array_merge([$report['exception_name']], $frames))];
}
