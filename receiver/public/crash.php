<?php
// One report: what the sender's form said, the machine, and the text report.
require_once __DIR__ . '/../src/Auth.php';
require_once __DIR__ . '/../src/Queries.php';

const SHOWN_REPORT_BYTES = 1 << 20;

require_login();
$id = (int)($_GET['id'] ?? 0);
$report = crash_report($id);
if ($report === null)
    refuse_page(404, 'No such report');
$files = report_files($id);

function fact(string $label, string $value, string $class = ''): string
{
    return '<dt>' . h($label) . '</dt><dd' . ($class ? " class=\"$class\"" : '') . '>' .
           ($value === '' ? '<span class="none">—</span>' : h($value)) . '</dd>';
}

function download_link(int $id, array $files, string $field, string $label): string
{
    if (!isset($files[$field]))
        return '<li class="none">' . h($label) . ': not sent</li>';
    return '<li><a href="download.php?id=' . $id . '&amp;file=' . $field . '">' . h($label) . '</a> ' .
           '<span class="muted">' . number_format((int)$files[$field]['size']) . ' bytes, SHA-256 ' .
           h($files[$field]['sha256']) . '</span></li>';
}

page_start("Report $id", [['Group ' . $report['group_id'], 'group.php?id=' . (int)$report['group_id']],
                          ["Report $id", null]]);
echo '<p class="signature">', h($report['signature']), '</p><section class="panels"><div class="panel">',
     '<h2>Sent with the report</h2><dl class="facts">',
     fact('Received (UTC)', $report['received_at']), fact('Product', $report['product']),
     fact('Version', $report['version']), fact('Extra text', $report['extra']),
     fact('Action', $report['action']), fact('Machine', $report['machine_id'], 'mono'),
     fact('E-mail', $report['email']), '</dl></div>',
     '<div class="panel"><h2>Crash</h2><dl class="facts">',
     fact('Exception', trim($report['exception_name'] . ' ' . $report['exception_code'])),
     fact('Address', $report['fault_address'], 'mono'), fact('Module', $report['fault_module']),
     fact('System', $report['system_line']), fact('Processor', $report['processor']), '</dl></div>',
     '<div class="panel"><h2>Files</h2><ul class="files">', download_link($id, $files, 'd', 'Minidump'),
     download_link($id, $files, 't', 'Text report'), '</ul></div></section>',
     '<h2>Description</h2>',
     $report['description'] === '' ? '<p class="none">No description.</p>'
                                   : '<div class="description">' . h($report['description']) . '</div>';

// The symbolised copy names the functions; without a store the report is shown as sent.
$text = $files['symbolized'] ?? $files['t'] ?? null;
$path = $text === null ? null : report_file_path($report, $text);
echo '<h2>Text report', isset($files['symbolized']) ? ' (symbolised)' : ' (as sent)', '</h2>';
if ($path === null)
    echo '<p class="none">', $text === null ? 'No text report was sent.' : 'The file is missing.', '</p>';
else
{
    $content = (string)file_get_contents($path, false, null, 0, SHOWN_REPORT_BYTES);
    if (filesize($path) > SHOWN_REPORT_BYTES)
        echo '<p class="muted">The first ', number_format(SHOWN_REPORT_BYTES), ' bytes; download the file for all of it.</p>';
    echo '<pre class="report">', h($content), '</pre>';
}
page_end();
