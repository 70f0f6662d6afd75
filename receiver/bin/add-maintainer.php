<?php
// Sets a maintainer's password for the receiver's pages, creating the maintainer if new:
//   php receiver/bin/add-maintainer.php NAME
// The password is read from the terminal without echo, or from the standard input's
// first line. Only its hash is stored. The database is the one the receiver's settings
// name (BRENNLOW_UPLOAD_DIR, BRENNLOW_DB_DSN, ...).
require_once __DIR__ . '/../src/Db.php';

const SHORTEST_PASSWORD = 10;

function read_password(): string
{
    $terminal = stream_isatty(STDIN);
    if ($terminal)
    {
        fwrite(STDERR, 'Password: ');
        shell_exec('stty -echo');
    }
    $line = fgets(STDIN);
    if ($terminal)
    {
        shell_exec('stty echo');
        fwrite(STDERR, "\n");
    }
    return rtrim((string)$line, "\r\n");
}

$name = $argv[1] ?? '';
if ($name === '' || !preg_match('//u', $name) || strlen($name) > 200 || isset($argv[2]))
{
    fwrite(STDERR, "Usage: php add-maintainer.php NAME  (the password on the standard input)\n");
    exit(2);
}
$password = read_password();
if (strlen($password) < SHORTEST_PASSWORD)
{
    fwrite(STDERR, 'The password needs at least ' . SHORTEST_PASSWORD . " characters.\n");
    exit(1);
}
$hash = password_hash($password, PASSWORD_DEFAULT);
$pdo = db();
$pdo->beginTransaction();
$update = $pdo->prepare('UPDATE maintainers SET password_hash = ? WHERE name = ?');
$update->execute([$hash, $name]);
if ($update->rowCount() === 0)
    $pdo->prepare('INSERT INTO maintainers (name, password_hash) VALUES (?, ?)')->execute([$name, $hash]);
$pdo->commit();
echo $update->rowCount() ? "Changed the password of $name.\n" : "Added the maintainer $name.\n";
