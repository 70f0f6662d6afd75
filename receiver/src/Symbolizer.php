<?php
// Runs tools/symbolize.py over a text report, within limits: a report over a megabyte is
// not symbolised (no crash reporter writes one), and the symbolizer gets a few seconds and
// a bounded address space; when it overruns either it is ended and the report stays as it
// arrived.
require_once __DIR__ . '/Config.php';

const SYMBOLIZE_MAX_REPORT = 1 << 20;
const SYMBOLIZE_SECONDS = 5;
const SYMBOLIZE_MEMORY_KB = 1 << 20;
const SYMBOLIZE_MAX_OUTPUT = 4 << 20;

// [symbolised text or null, the symbolizer's complaints]
function symbolize_report(string $report, string $store): array
{
    if ($store === '')
        return [null, ''];
    if (strlen($report) > SYMBOLIZE_MAX_REPORT)
        return [null, 'not symbolised: the report is over ' . (SYMBOLIZE_MAX_REPORT >> 20) . " MB\n"];
    // The limit holds for the tools the symbolizer starts, too.
    $command = ['sh', '-c', 'ulimit -v ' . SYMBOLIZE_MEMORY_KB . ' && exec "$@"', 'sh', 'python3',
                __DIR__ . '/../../tools/symbolize.py', '-', '--store', $store];
    $process = @proc_open($command, [0 => ['pipe', 'r'], 1 => ['pipe', 'w'], 2 => ['pipe', 'w']],
                          $pipes);
    if (!is_resource($process))
        return [null, "not symbolised: the symbolizer did not start\n"];
    [$out, $complaints, $finished] = exchange($pipes, $report, microtime(true) + SYMBOLIZE_SECONDS);
    if (!$finished)
        proc_terminate($process, 9);
    foreach ($pipes as $pipe)
        if (is_resource($pipe))
            fclose($pipe);
    $status = proc_close($process);
    if (!$finished)
        return [null, $complaints . 'not symbolised: the symbolizer overran its limits' . "\n"];
    return [$status === 0 ? $out : null, $complaints];
}

// Feeds the input to the process and collects its output until it closes both pipes or
// the deadline passes; [output, errors, whether it finished].
function exchange(array $pipes, string $input, float $deadline): array
{
    $collected = [1 => '', 2 => ''];
    $open = [1 => $pipes[1], 2 => $pipes[2]];
    foreach ($pipes as $pipe)
        stream_set_blocking($pipe, false);
    $writing = $pipes[0];
    while ($open && ($left = $deadline - microtime(true)) > 0)
    {
        $read = array_values($open);
        $write = $writing ? [$writing] : [];
        $except = null;
        if (@stream_select($read, $write, $except, 0, (int)($left * 1e6)) === false)
            break;
        if ($write)
        {
            $input = (string)substr($input, (int)fwrite($writing, $input));
            if ($input === '')
            {
                fclose($writing);
                $writing = null;
            }
        }
        foreach ($open as $index => $pipe)
            if (in_array($pipe, $read, true))
            {
                $chunk = fread($pipe, 65536);
                $collected[$index] .= $chunk;
                if (($chunk === '' || $chunk === false) && feof($pipe))
                    unset($open[$index]);
                if (strlen($collected[$index]) > SYMBOLIZE_MAX_OUTPUT)
                    return [$collected[1], $collected[2], false];
            }
    }
    if ($writing)
        fclose($writing);
    return [$collected[1], $collected[2], !$open];
}
