<?php
// Reads the crash reporter's text report: the exception, where it happened, the system and
// processor, the module list and the faulting thread's stack. A text that does not open
// with an exception line is no report of ours: parse_report() then returns null.

const EXCEPTION_LINE = '/^(.+?) \[0x([0-9A-Fa-f]{8})\] at 0x([0-9A-Fa-f]+) in Thread (\S+?)\.$/';
const SYSTEM_LINE = '/^(.+?) \[\d+\.\d+\] Build \d+/';
const PROCESSOR_LINE = '/ \d+ Mhz$/';
const MODULE_LINE = '/^ *(\d+) 0x([0-9A-F]{8}) .*? 0x[0-9A-F]{8} 0x([0-9A-F]+) .* - (.+)$/';

// The report's sections by their heading ("" for the lines before the first one).
function report_sections(array $lines): array
{
    $sections = ['' => []];
    $current = '';
    foreach ($lines as $line)
    {
        if (preg_match('/^(Stack|ModuleList|ThreadList):$/', $line, $heading))
            $sections[$current = $heading[1]] = [];
        elseif ($line === '')
            $current = $current === '' ? '' : null;
        elseif ($current !== null)
            $sections[$current][] = $line;
    }
    return $sections;
}

// The module list: name (the file name of its path), time stamp, size, path and load address.
function parse_modules(array $lines): array
{
    $modules = [];
    foreach ($lines as $line)
        if (preg_match(MODULE_LINE, $line, $m))
            $modules[] = ['name' => basename(str_replace('\\', '/', $m[4])),
                          'time_stamp' => '0x' . $m[2], 'size' => (int)$m[1],
                          'path' => $m[4], 'base' => hexdec($m[3])];
    return $modules;
}

function module_at(array $modules, int $address): string
{
    foreach ($modules as $module)
        if ($module['size'] > 0 && $address >= $module['base'] && $address < $module['base'] + $module['size'])
            return $module['name'];
    return '';
}

function parse_report(string $text): ?array
{
    // The symbolizer's notice of builds it has no symbols for stands above the report.
    $lines = explode("\n", str_replace("\r", '', $text));
    if ($lines && strncmp($lines[0], 'No symbols in the store for: ', 29) === 0)
        array_shift($lines);
    if (!$lines || !preg_match(EXCEPTION_LINE, $lines[0], $exception))
        return null;
    $sections = report_sections($lines);
    $head = $sections[''];
    $system = preg_grep(SYSTEM_LINE, $head);
    $processor = preg_grep(PROCESSOR_LINE, $head);
    $modules = parse_modules($sections['ModuleList'] ?? []);
    $systemLine = (string)reset($system);
    preg_match(SYSTEM_LINE, $systemLine, $systemName);
    return [
        'exception_name' => $exception[1],
        'exception_code' => '0x' . strtoupper($exception[2]),
        'fault_address' => '0x' . strtoupper($exception[3]),
        'fault_module' => module_at($modules, (int)hexdec($exception[3])),
        'system' => $systemName[1] ?? '',
        'system_line' => $systemLine,
        'processor' => (string)reset($processor),
        'modules' => $modules,
        'stack' => $sections['Stack'] ?? [],
    ];
}
