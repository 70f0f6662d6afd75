<?php
// Crashes the fault program in every way it knows, as built, stripped, and stripped with
// another time stamp (another build of the same code), and checks the signature that the
// receiver gives each report: with the symbol store every copy, and both architectures,
// give the one signature of the table; without it the stripped frames name module and
// offset; no two crashes share one. Arguments: wine-run, CrashProgram.exe, the source
// folder, the architecture's strip.
[, $wineRun, $program, $source, $strip] = $argv;
require __DIR__ . '/Support.php';
require "$source/receiver/src/Processing.php";
require "$source/receiver/src/Symbolizer.php";

// Where the x64 report's walk loses frames, its own signature follows.
$signatures = [
    'write' => ['Access Violation | FaultWithNullWrite | CrashCaller | main'],
    'read' => ['Access Violation | FaultWithNullRead | CrashCaller | main'],
    'raise' => ['Exception | FaultWithUnknownCode | CrashCaller | main', 'Exception | CrashCaller | main'],
    'overflow' => ['Stack Overflow | Overflow | Overflow', 'Stack Overflow'],
    'divide' => ['Integer Divide by Zero | FaultWithDivide | CrashCaller | main'],
];
$x64 = strpos(file_get_contents($program, false, null, 0, 4096), "PE\0\0\x64\x86") !== false;

$work = sys_get_temp_dir() . '/brennlow-real-reports-' . getmypid();
$store = "$work/store";
$builds = ['built' => "$work/built", 'stripped' => "$work/stripped", 'stamped' => "$work/stamped"];
foreach ($builds as $folder)
    mkdir($folder, 0700, true);
copy($program, "$builds[built]/CrashProgram.exe");
exec(escapeshellarg($strip) . ' -o ' . escapeshellarg("$builds[stripped]/CrashProgram.exe") . ' ' .
     escapeshellarg($program));
// The same code linked at another time: only the header's time stamp differs.
$image = file_get_contents("$builds[stripped]/CrashProgram.exe");
$stamp = unpack('V', $image, unpack('V', $image, 0x3C)[1] + 8)[1];
file_put_contents("$builds[stamped]/CrashProgram.exe",
                  substr_replace($image, pack('V', $stamp + 86400), unpack('V', $image, 0x3C)[1] + 8, 4));
foreach ($builds as $folder)
    exec('sh ' . escapeshellarg("$source/tools/store-symbols.sh") . ' ' .
         escapeshellarg("$folder/CrashProgram.exe") . ' ' . escapeshellarg($program) .
         ' --store ' . escapeshellarg($store) . ' >/dev/null');

$seen = [];
foreach ($signatures as $kind => $table)
    foreach ($builds as $build => $folder)
    {
        $expected = $table[(int)$x64] ?? $table[0];
        @unlink("$folder/CrashProgram_Debug.txt");
        exec('cd ' . escapeshellarg($folder) . ' && timeout 120 ' . escapeshellarg($wineRun) .
             " ./CrashProgram.exe $kind >/dev/null 2>&1");
        $report = (string)@file_get_contents("$folder/CrashProgram_Debug.txt");
        [$symbolized, $complaints] = symbolize_report($report, $store);
        $named = analyse_report($report, $symbolized);
        check($named['signature'] === $expected && $named['symbolized'] === 1,
              "$kind, $build, with symbols: {$named['signature']} $complaints");
        $seen[$named['signature']] = true;
        $bare = analyse_report($report, null)['signature'];
        if ($build !== 'built')
            check($bare !== $expected && strpos($bare, ' | crashprogram@0x') !== false,
                  "$kind, $build, without symbols: $bare");
        echo "$kind, $build: $named[signature]", $build !== 'built' ? " (without symbols: $bare)" : '', "\n";
    }
check(count($seen) === count($signatures), 'every crash has a group of its own');
remove_tree($work);
finish();
