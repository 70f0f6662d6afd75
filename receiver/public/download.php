<?php
// A report's minidump (file=d) or text report (file=t), always as an attachment under a
// name made here: the browser saves it and never renders what a sender put in it.
require_once __DIR__ . '/../src/Auth.php';
require_once __DIR__ . '/../src/Queries.php';

const DOWNLOADS = ['d' => ['minidump', 'dmp', 'application/octet-stream'],
                   't' => ['report', 'txt', 'text/plain']];

require_login();
$id = (int)($_GET['id'] ?? 0);
$field = $_GET['file'] ?? '';
if (!is_string($field) || !isset(DOWNLOADS[$field]))
    refuse_page(404, 'No such file');
$report = crash_report($id);
$file = $report === null ? null : report_files($id)[$field] ?? null;
$path = $file === null ? null : report_file_path($report, $file);
if ($path === null)
    refuse_page(404, 'No such file');

[$kind, $extension, $type] = DOWNLOADS[$field];
header("Content-Type: $type");
header("Content-Disposition: attachment; filename=\"brennlow-$id-$kind.$extension\"");
header('X-Content-Type-Options: nosniff');
header("Content-Security-Policy: default-src 'none'; sandbox");
header('Cache-Control: no-store');
header('Content-Length: ' . filesize($path));
readfile($path);
