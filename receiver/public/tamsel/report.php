<?php
// Receives crash-report uploads at /tamsel/report.php and answers with one short line of
// text: "Stored <folder>" only when every part was stored, else an error status and what
// went wrong. It shows nothing of what is stored. See receiver/src/Storage.php.
//
// A minidump runs to a few megabytes: see the README's section on size limits, for example
//   php -d upload_max_filesize=64M -d post_max_size=136M -S 127.0.0.1:80 -t receiver/public
require_once __DIR__ . '/../../src/Storage.php';

header('Content-Type: text/plain');
if ($_SERVER['REQUEST_METHOD'] !== 'POST')
    [$status, $text] = [405, 'POST only'];
elseif (empty($_POST) && empty($_FILES))
    [$status, $text] = [400, 'Empty upload'];
else
    [$status, $text] = store_upload($_POST, $_FILES);
http_response_code($status);
echo $text, "\n";
