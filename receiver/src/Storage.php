<?php
// Stores one upload: its files in a folder of its own below the upload folder (every form
// field as "<field>.field", every file as "<field>-<file name>"), then, in one transaction,
// its row, its files' names, sizes and SHA-256 and its module list. The row is written
// only once every file is on disk; on any failure the folder goes again, and a page,
// which shows only what a row names, never shows a half-stored upload. A minidump that
// was stored before (the same SHA-256) is not stored again: the answer names its upload.
require_once __DIR__ . '/Processing.php';
require_once __DIR__ . '/Symbolizer.php';

const FIELD_LIMIT = 4096;
const FIELD_LIMITS = ['x' => 65536];
const FILE_LIMITS = ['d' => 64 << 20, 't' => 16 << 20];
const OTHER_FILE_LIMIT = 64 << 20;
const SYMBOLIZED_NAME = 'report-symbolized.txt';
const SYMBOLIZER_LOG = 'report-symbolized.log';

final class UploadRefused extends Exception
{
}

function refuse(int $status, string $text): void
{
    throw new UploadRefused($text, $status);
}

// Only letters, digits, dash and underscore: no dot that a web server could take for a
// script's extension, wherever in the name it stands.
function plain_name($name): string
{
    $name = preg_replace('/[^A-Za-z0-9_-]/', '_', basename((string)$name));
    return $name === '' ? '_' : $name;
}

// A file keeps its extension only when it is one of the report's plain data; any other
// gets ".upload" behind it.
function file_name($name): string
{
    $name = basename((string)$name);
    $dot = strrpos($name, '.');
    $extension = $dot === false ? '' : strtolower(substr($name, $dot + 1));
    if (!in_array($extension, ['dmp', 'txt'], true))
        return plain_name($name) . '.upload';
    return plain_name(substr($name, 0, $dot)) . '.' . $extension;
}

// The default folder lies in a temporary folder that every user can write to: it is made
// private to this server's user, and refused when someone else could have prepared it.
// Without PHP's POSIX functions the owner cannot be read: that check is left out, said so
// in the log, and the upload is stored.
function private_root(string $root): string
{
    if (!is_link($root) && !file_exists($root))
        @mkdir($root, 0700);
    clearstatcache();
    $info = @lstat($root);
    if ($info === false || is_link($root) || !is_dir($root))
        refuse(500, 'Cannot store the upload');
    if (!function_exists('posix_geteuid'))
        error_log("receiver: PHP lacks the POSIX functions; the owner of $root was not checked");
    elseif ($info['uid'] !== posix_geteuid())
        refuse(500, 'Cannot store the upload');
    if (($info['mode'] & 0077) !== 0 && !chmod($root, 0700))
        refuse(500, 'Cannot store the upload');
    return $root;
}

function ready_upload_root(): string
{
    $root = upload_root();
    if (config_value('BRENNLOW_UPLOAD_DIR') === '')
        return private_root($root);
    if (!is_dir($root) && !@mkdir($root, 0700, true) && !is_dir($root))
        refuse(500, 'Cannot store the upload');
    return $root;
}

// The files of the form that arrived, by field; refuses what arrived broken or too large.
function arrived_files(array $files): array
{
    $arrived = [];
    foreach ($files as $field => $file)
    {
        // A part without a file (a report that has only its text) is no failure.
        if (!is_array($file['error']) && $file['error'] === UPLOAD_ERR_NO_FILE)
            continue;
        if (is_array($file['error']) || $file['error'] !== UPLOAD_ERR_OK)
            refuse(in_array($file['error'], [UPLOAD_ERR_INI_SIZE, UPLOAD_ERR_FORM_SIZE], true) ? 413 : 400,
                   'The file ' . plain_name($field) . ' did not arrive');
        if ($file['size'] > (FILE_LIMITS[$field] ?? OTHER_FILE_LIMIT))
            refuse(413, 'The file ' . plain_name($field) . ' is too large');
        $arrived[$field] = $file;
    }
    return $arrived;
}

function checked_fields(array $fields): array
{
    $fields = array_filter($fields, 'is_string');
    foreach ($fields as $field => $value)
        if (strlen($value) > (FIELD_LIMITS[$field] ?? FIELD_LIMIT))
            refuse(413, 'The field ' . plain_name($field) . ' is too large');
    return $fields;
}

function stored_folder_of_dump(PDO $pdo, string $sha256): ?string
{
    $select = $pdo->prepare('SELECT folder FROM reports WHERE dump_sha256 = ?');
    $select->execute([$sha256]);
    $folder = $select->fetchColumn();
    return $folder === false ? null : $folder;
}

function remove_folder(string $folder): void
{
    foreach (glob("$folder/{,.}*", GLOB_BRACE) ?: [] as $path)
        if (is_file($path) || is_link($path))
            @unlink($path);
    @rmdir($folder);
}

// Answers [status, text] for the form's fields and files ($_POST and $_FILES).
function store_upload(array $fields, array $files): array
{
    try
    {
        $fields = checked_fields($fields);
        $files = arrived_files($files);
        $root = ready_upload_root();
        $pdo = db();
        $dumpHash = isset($files['d']) ? hash_file('sha256', $files['d']['tmp_name']) : null;
        $stored = $dumpHash === null ? null : stored_folder_of_dump($pdo, $dumpHash);
        if ($stored !== null)
            return [200, "Stored $stored"];
        $folder = gmdate('Ymd-His') . '-' . bin2hex(random_bytes(4));
        if (!@mkdir("$root/$folder", 0700))
            refuse(500, 'Cannot store the upload');
    }
    catch (UploadRefused $refused)
    {
        return [$refused->getCode(), $refused->getMessage()];
    }
    catch (Throwable $error)
    {
        error_log('receiver: ' . $error->getMessage());
        return [500, 'Cannot store the upload'];
    }
    try
    {
        store_in_folder($pdo, "$root/$folder", $fields, $files, $dumpHash);
        return [200, "Stored $folder"];
    }
    catch (Throwable $error)
    {
        remove_folder("$root/$folder");
        // The same minidump, stored by a concurrent upload meanwhile.
        try
        {
            $stored = $dumpHash === null ? null : stored_folder_of_dump($pdo, $dumpHash);
        }
        catch (Throwable $ignored)
        {
            $stored = null;
        }
        if ($stored !== null)
            return [200, "Stored $stored"];
        error_log('receiver: ' . $error->getMessage());
        if ($error instanceof UploadRefused)
            return [$error->getCode(), $error->getMessage()];
        return [500, 'Cannot store the upload'];
    }
}

function store_in_folder(PDO $pdo, string $folder, array $fields, array $files, ?string $dumpHash): void
{
    foreach ($fields as $field => $value)
        if (file_put_contents("$folder/" . plain_name($field) . '.field', $value) === false)
            refuse(500, 'Cannot store the field ' . plain_name($field));
    $rows = [];
    foreach ($files as $field => $file)
    {
        $name = plain_name($field) . '-' . file_name($file['name']);
        // The receiver's own files keep their names.
        if (in_array($name, [SYMBOLIZED_NAME, SYMBOLIZER_LOG], true))
            $name = plain_name($name) . '.upload';
        if (!move_uploaded_file($file['tmp_name'], "$folder/$name"))
            refuse(500, 'Cannot store the file ' . plain_name($field));
        $rows[] = file_row($folder, $field, $name, (string)$file['name'], $field === 'd' ? $dumpHash : null);
    }
    $texts = array_column(array_filter($rows, fn($row) => $row['field'] === 't'), 'name');
    $text = $texts ? (string)file_get_contents("$folder/$texts[0]") : '';
    [$symbolized, $complaints] = $text === '' ? [null, ''] : symbolize_report($text, symbol_store());
    if ($complaints !== '')
        file_put_contents("$folder/" . SYMBOLIZER_LOG, $complaints);
    if ($symbolized !== null)
    {
        if (file_put_contents("$folder/" . SYMBOLIZED_NAME, $symbolized) !== strlen($symbolized))
            refuse(500, 'Cannot store the upload');
        $rows[] = file_row($folder, 'symbolized', SYMBOLIZED_NAME, SYMBOLIZED_NAME);
    }
    $analysis = analyse_report($text, $symbolized);
    in_transaction($pdo, function () use ($pdo, $folder, $fields, $dumpHash, $analysis, $rows) {
        $columns = analysis_columns($pdo, $analysis) + [
            'received_at' => gmdate('Y-m-d H:i:s'), 'folder' => basename($folder),
            'dump_sha256' => $dumpHash];
        foreach (['a' => 'action', 'p' => 'product', 's' => 'extra', 'v' => 'version',
                  'g' => 'machine_id'] as $field => $column)
            $columns[$column] = utf8_text($fields[$field] ?? '');
        $id = insert_report($pdo, $columns, $fields['e'] ?? '', $fields['x'] ?? '');
        $insert = $pdo->prepare('INSERT INTO report_files (report_id, field, name, original_name, ' .
                                'size, sha256) VALUES (?, ?, ?, ?, ?, ?)');
        foreach ($rows as $row)
            $insert->execute(array_merge([$id], array_values($row)));
        save_modules($pdo, $id, $analysis['parsed']['modules'] ?? []);
    });
}

function file_row(string $folder, string $field, string $name, string $original, ?string $sha256 = null): array
{
    return ['field' => $field, 'name' => $name, 'original_name' => utf8_text($original),
            'size' => filesize("$folder/$name"), 'sha256' => $sha256 ?? hash_file('sha256', "$folder/$name")];
}

// Inserts the row with e-mail and description as the bytes that arrived; returns its id.
function insert_report(PDO $pdo, array $columns, string $email, string $description): int
{
    $names = array_keys($columns);
    $insert = $pdo->prepare('INSERT INTO reports (' . implode(', ', $names) . ', email, description) ' .
                            'VALUES (' . str_repeat('?, ', count($names)) . '?, ?)');
    $at = 1;
    foreach ($columns as $value)
        $insert->bindValue($at++, $value, $value === null ? PDO::PARAM_NULL
                                          : (is_int($value) ? PDO::PARAM_INT : PDO::PARAM_STR));
    $insert->bindValue($at++, $email, PDO::PARAM_LOB);
    $insert->bindValue($at, $description, PDO::PARAM_LOB);
    $insert->execute();
    return (int)$pdo->lastInsertId();
}
