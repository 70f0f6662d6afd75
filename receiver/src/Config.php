<?php
// The receiver's settings, all from the environment, so that one configuration serves the
// built-in server of the tests and a production web server alike.
//
//   BRENNLOW_UPLOAD_DIR     folder of the uploads (default: brennlow-uploads in the system's
//                           temporary folder); the SQLite database lives there by default
//   BRENNLOW_DB_DSN         a PDO data source name, e.g. "pgsql:host=127.0.0.1;dbname=crashes"
//                           (default: "sqlite:<upload folder>/receiver.sqlite")
//   BRENNLOW_DB_USER, BRENNLOW_DB_PASSWORD   credentials for the data source, if it needs them
//   BRENNLOW_SYMBOL_STORE   the symbol store the text reports are symbolised with (none: off)

function config_value(string $name, string $default = ''): string
{
    $value = getenv($name);
    return $value === false || $value === '' ? $default : $value;
}

function upload_root(): string
{
    return config_value('BRENNLOW_UPLOAD_DIR', sys_get_temp_dir() . '/brennlow-uploads');
}

function database_dsn(): string
{
    return config_value('BRENNLOW_DB_DSN', 'sqlite:' . upload_root() . '/receiver.sqlite');
}

function symbol_store(): string
{
    return config_value('BRENNLOW_SYMBOL_STORE');
}
