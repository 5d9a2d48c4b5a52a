<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>CliOptions</name>
    <message>
        <source>no command given (try --help)</source>
        <translation>kein Befehl angegeben (siehe --help)</translation>
    </message>
    <message>
        <source>unknown command &quot;%1&quot; (try --help)</source>
        <translation>unbekannter Befehl „%1“ (siehe --help)</translation>
    </message>
    <message>
        <source>usb-serial needs &quot;on&quot; or &quot;off&quot;</source>
        <translation>usb-serial braucht „on“ oder „off“</translation>
    </message>
    <message>
        <source>usb-serial needs &quot;on&quot; or &quot;off&quot;, not &quot;%1&quot;</source>
        <translation>usb-serial braucht „on“ oder „off“, nicht „%1“</translation>
    </message>
    <message>
        <source>%1 does not take %2</source>
        <translation>%1 kennt die Option %2 nicht</translation>
    </message>
    <message>
        <source>unexpected argument &quot;%1&quot;</source>
        <translation>unerwartetes Argument „%1“</translation>
    </message>
    <message>
        <source>%1 takes no value</source>
        <translation>%1 nimmt keinen Wert</translation>
    </message>
    <message>
        <source>give only one of --remove-queues and --keep-queues</source>
        <translation>nur eines von --remove-queues und --keep-queues angeben</translation>
    </message>
    <message>
        <source>--wait needs a number of seconds from 0 to 3600</source>
        <translation>--wait braucht eine Zahl von Sekunden zwischen 0 und 3600</translation>
    </message>
    <message>
        <source>--printer needs a serial number</source>
        <translation>--printer braucht eine Seriennummer</translation>
    </message>
    <message>
        <source>--counter needs A, B or M</source>
        <translation>--counter braucht A, B oder M</translation>
    </message>
    <message>
        <source>update needs either --printer SERIAL (one or more) or --all</source>
        <translation>update braucht entweder --printer SERIAL (ein- oder mehrmals) oder --all</translation>
    </message>
    <message>
        <source>reset-counter needs one --printer SERIAL</source>
        <translation>reset-counter braucht genau ein --printer SERIAL</translation>
    </message>
    <message>
        <source>reset-counter needs --counter A, B or M</source>
        <translation>reset-counter braucht --counter A, B oder M</translation>
    </message>
    <message>
        <source>usb-serial needs one --printer SERIAL</source>
        <translation>usb-serial braucht genau ein --printer SERIAL</translation>
    </message>
    <message>
        <source>--since needs a date such as 2026-12-01</source>
        <translation>--since braucht ein Datum wie 2026-12-01</translation>
    </message>
    <message>
        <source>--limit needs a number from 1 to 100000</source>
        <translation>--limit braucht eine Zahl von 1 bis 100000</translation>
    </message>
    <message>
        <source>--output needs a file name</source>
        <translation>--output braucht einen Dateinamen</translation>
    </message>
    <message>
        <source>history takes one --printer SERIAL</source>
        <translation>history nimmt genau ein --printer SERIAL</translation>
    </message>
    <message>
        <source>Usage: printer-maintenance-cli COMMAND [OPTIONS]

Lists, updates, resets and switches the USB photo printers attached to this machine.

Commands:
  list [--json] [--wait SECONDS]
      Waits until the printers present are read, then lists them.
  update (--printer SERIAL ... | --all) [--yes] [--allow-older] [--json]
      The whole firmware and colour-table update of each printer, in parallel.
  reset-counter --printer SERIAL --counter A|B|M [--yes]
  usb-serial on|off --printer SERIAL [--yes] [--remove-queues | --keep-queues]
  history [--json] [--printer SERIAL] [--since DATE] [--limit N]
      The update outcomes recorded on this machine, newest first (the last 100 unless --limit).
  metrics [--output FILE] [--wait SECONDS]
      The printers&apos; state in the Prometheus text format; FILE is replaced whole.
  --version | --help

Options:
  --json           machine-readable output on standard output (update: one object a line,
                   one result per printer, a summary last)
  --wait SECONDS   look that much longer for printers still arriving
  --yes            answer yes to every question (print queues are kept)
  --allow-older    update also to an older or the same firmware version
  --remove-queues  remove this printer&apos;s print queues without asking
  --keep-queues    keep them without asking
  --since DATE     history: only from that day (ISO 8601, e.g. 2026-12-01) on
  --limit N        history: at most N entries (1 to 100000)

Questions are asked on the terminal (y/N); without one and without --yes, nothing is written.
Ctrl+C during an update stops it at the next safe point; running it again finishes it.

Each printer&apos;s result: updated, up-to-date, busy, declined, failed, stopped or not-found.

Exit status: 0 every selected printer updated or up to date (or the command done),
1 any failed, stopped, busy or not found, 2 nothing written by your choice (declined,
or no terminal to ask), 3 usage error, 4 no printer matched.

PRINTER_MAINTENANCE_SIMULATE=PZA runs on virtual printers (demo mode), which keep their
state between runs; PRINTER_MAINTENANCE_SIMULATE_RESET=1 starts them afresh.
</source>
        <translation>Aufruf: printer-maintenance-cli BEFEHL [OPTIONEN]

Listet, aktualisiert, setzt zurück und schaltet die USB-Fotodrucker an diesem Rechner.

Befehle:
  list [--json] [--wait SECONDS]
      Wartet, bis die vorhandenen Drucker gelesen sind, und listet sie dann auf.
  update (--printer SERIAL ... | --all) [--yes] [--allow-older] [--json]
      Die ganze Aktualisierung von Firmware und Farbtabellen jedes Druckers, parallel.
  reset-counter --printer SERIAL --counter A|B|M [--yes]
  usb-serial on|off --printer SERIAL [--yes] [--remove-queues | --keep-queues]
  history [--json] [--printer SERIAL] [--since DATE] [--limit N]
      Die auf diesem Rechner aufgezeichneten Ergebnisse von Aktualisierungen, neueste zuerst (die letzten 100, wenn nicht --limit).
  metrics [--output FILE] [--wait SECONDS]
      Der Zustand der Drucker im Textformat von Prometheus; FILE wird als Ganzes ersetzt.
  --version | --help

Optionen:
  --json           maschinenlesbare Ausgabe auf der Standardausgabe (update: ein Objekt pro Zeile,
                   ein Ergebnis pro Drucker, zuletzt eine Zusammenfassung)
  --wait SECONDS   so viel länger nach noch ankommenden Druckern suchen
  --yes            jede Frage mit Ja beantworten (Druckerwarteschlangen bleiben erhalten)
  --allow-older    auch auf eine ältere oder dieselbe Firmware-Version aktualisieren
  --remove-queues  die Druckerwarteschlangen dieses Druckers ohne Nachfrage entfernen
  --keep-queues    sie ohne Nachfrage behalten
  --since DATE     history: erst ab diesem Tag (ISO 8601, z. B. 2026-12-01)
  --limit N        history: höchstens N Einträge (1 bis 100000)

Fragen werden im Terminal gestellt (y/N); ohne Terminal und ohne --yes wird nichts geschrieben.
Strg+C während einer Aktualisierung hält sie am nächsten sicheren Punkt an; ein erneuter Aufruf beendet sie.

Das Ergebnis jedes Druckers: updated, up-to-date, busy, declined, failed, stopped oder not-found.

Rückgabewert: 0 jeder gewählte Drucker aktualisiert oder aktuell (oder der Befehl erledigt),
1 einer fehlgeschlagen, angehalten, belegt oder nicht gefunden, 2 nichts geschrieben, weil Sie es so
gewählt haben (abgelehnt oder kein Terminal zum Fragen), 3 Aufruffehler, 4 kein Drucker gefunden.

PRINTER_MAINTENANCE_SIMULATE=PZA arbeitet mit virtuellen Druckern (Demomodus), die ihren Zustand
von Lauf zu Lauf behalten; PRINTER_MAINTENANCE_SIMULATE_RESET=1 lässt sie neu beginnen.
</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Printer Maintenance</source>
        <translation>Druckerwartung</translation>
    </message>
    <message>
        <source>Update the firmware and colour tables of the selected printer</source>
        <translation>Firmware und Farbtabellen des ausgewählten Druckers aktualisieren</translation>
    </message>
    <message>
        <source>Read the status and properties of the selected printer again</source>
        <translation>Status und Eigenschaften des ausgewählten Druckers erneut lesen</translation>
    </message>
    <message>
        <source>Printer</source>
        <translation>Drucker</translation>
    </message>
    <message>
        <source>Demo mode: virtual printers (PRINTER_MAINTENANCE_SIMULATE=%1)</source>
        <translation>Demomodus: virtuelle Drucker (PRINTER_MAINTENANCE_SIMULATE=%1)</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Reset counter %1 of %2?</source>
        <translation>Zähler %1 von %2 zurücksetzen?</translation>
    </message>
    <message>
        <source>The counter starts again from zero. This cannot be undone.</source>
        <translation>Der Zähler beginnt wieder bei null. Dies kann nicht rückgängig gemacht werden.</translation>
    </message>
    <message>
        <source>&amp;Update Firmware…</source>
        <translation>Firmware &amp;aktualisieren…</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>&amp;Neu einlesen</translation>
    </message>
    <message>
        <source>Counter &amp;A…</source>
        <translation>Zähler &amp;A…</translation>
    </message>
    <message>
        <source>Counter &amp;B…</source>
        <translation>Zähler &amp;B…</translation>
    </message>
    <message>
        <source>Counter &amp;M…</source>
        <translation>Zähler &amp;M…</translation>
    </message>
    <message>
        <source>&amp;Enabled</source>
        <translation>&amp;Aktiviert</translation>
    </message>
    <message>
        <source>&amp;Disabled</source>
        <translation>&amp;Deaktiviert</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Printer</source>
        <translation>&amp;Drucker</translation>
    </message>
    <message>
        <source>Reset &amp;Counter</source>
        <translation>&amp;Zähler zurücksetzen</translation>
    </message>
    <message>
        <source>USB &amp;Serial Number</source>
        <translation>USB-&amp;Seriennummer</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Zurücksetzen</translation>
    </message>
    <message>
        <source>Counter %1 now reads %2.</source>
        <translation>Zähler %1 steht jetzt auf %2.</translation>
    </message>
    <message>
        <source>Counter %1 of %2 was reset to zero.</source>
        <translation>Zähler %1 von %2 wurde auf null zurückgesetzt.</translation>
    </message>
    <message>
        <source>Counter %1 of %2 was not reset.</source>
        <translation>Zähler %1 von %2 wurde nicht zurückgesetzt.</translation>
    </message>
    <message>
        <source>Model configuration: %1 line(s) skipped, the first: %2</source>
        <translation>Modellkonfiguration: %1 Zeile(n) übergangen, die erste: %2</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Switch the USB serial number of %1 on?</source>
        <translation>Die USB-Seriennummer von %1 einschalten?</translation>
    </message>
    <message>
        <source>Switch the USB serial number of %1 off?</source>
        <translation>Die USB-Seriennummer von %1 ausschalten?</translation>
    </message>
    <message>
        <source>The printer must be switched off and on afterwards. Print queues that reach it by its USB serial number will not find it any more.</source>
        <translation>Der Drucker muss danach aus- und wieder eingeschaltet werden. Druckerwarteschlangen, die ihn über seine USB-Seriennummer erreichen, finden ihn dann nicht mehr.</translation>
    </message>
    <message>
        <source>&amp;Switch</source>
        <translation>&amp;Umschalten</translation>
    </message>
    <message>
        <source>The USB serial number of %1 was not changed.</source>
        <translation>Die USB-Seriennummer von %1 wurde nicht geändert.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is now on.</source>
        <translation>Die USB-Seriennummer von %1 ist jetzt eingeschaltet.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is now off.</source>
        <translation>Die USB-Seriennummer von %1 ist jetzt ausgeschaltet.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 was not changed: %2</source>
        <translation>Die USB-Seriennummer von %1 wurde nicht geändert: %2</translation>
    </message>
</context>
<context>
    <name>NoPrinterPage</name>
    <message>
        <source>No supported printer is connected.</source>
        <translation>Kein unterstützter Drucker ist angeschlossen.</translation>
    </message>
    <message>
        <source>&lt;p&gt;Printers appear here as soon as they are plugged in. If yours does not, check:&lt;/p&gt;&lt;ul&gt;&lt;li&gt;the USB cable: firmly plugged in at both ends (try another port or cable);&lt;/li&gt;&lt;li&gt;the power: the printer is switched on and has finished starting up;&lt;/li&gt;&lt;li&gt;the permission: your user may use the printer&apos;s USB device (usually granted by a udev rule for the printer), and no other program holds it.&lt;/li&gt;&lt;/ul&gt;</source>
        <translation>&lt;p&gt;Drucker erscheinen hier, sobald sie angeschlossen werden. Erscheint Ihrer nicht, prüfen Sie:&lt;/p&gt;&lt;ul&gt;&lt;li&gt;das USB-Kabel: an beiden Enden fest eingesteckt (versuchen Sie einen anderen Anschluss oder ein anderes Kabel);&lt;/li&gt;&lt;li&gt;die Stromversorgung: der Drucker ist eingeschaltet und fertig hochgefahren;&lt;/li&gt;&lt;li&gt;die Berechtigung: Ihr Benutzer darf das USB-Gerät des Druckers verwenden (meist durch eine udev-Regel für den Drucker gewährt), und kein anderes Programm belegt es.&lt;/li&gt;&lt;/ul&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;To try this application without a printer, start it in demo mode with virtual printers:&lt;br&gt;&lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA printer-maintenance&lt;/code&gt; &amp;nbsp;(or &lt;code&gt;make demo&lt;/code&gt; in the source tree).&lt;/p&gt;</source>
        <translation>&lt;p&gt;Um diese Anwendung ohne Drucker auszuprobieren, starten Sie sie im Demomodus mit virtuellen Druckern:&lt;br&gt;&lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA printer-maintenance&lt;/code&gt; &amp;nbsp;(oder &lt;code&gt;make demo&lt;/code&gt; im Quellbaum).&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1), but it attached no printer. Try &lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA&lt;/code&gt;.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Der Demomodus ist eingeschaltet (PRINTER_MAINTENANCE_SIMULATE=%1), hat aber keinen Drucker angeschlossen. Versuchen Sie &lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA&lt;/code&gt;.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;A printer that is restarting, for example during a firmware update, leaves this list for a few seconds and comes back by itself. Do not unplug it or switch it off.&lt;/b&gt;&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Ein Drucker, der neu startet, zum Beispiel während einer Firmware-Aktualisierung, verschwindet für einige Sekunden aus dieser Liste und kommt von selbst zurück. Ziehen Sie ihn nicht ab und schalten Sie ihn nicht aus.&lt;/b&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1) and attached %2 virtual printer(s); each appears here as soon as it has answered.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Der Demomodus ist eingeschaltet (PRINTER_MAINTENANCE_SIMULATE=%1) und hat %2 virtuelle(n) Drucker angeschlossen; jeder erscheint hier, sobald er geantwortet hat.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>PrintQueues</name>
    <message>
        <source>lpstat is not installed</source>
        <translation>lpstat ist nicht installiert</translation>
    </message>
    <message>
        <source>the print system (CUPS) is not running</source>
        <translation>das Drucksystem (CUPS) läuft nicht</translation>
    </message>
    <message>
        <source>lpstat did not finish</source>
        <translation>lpstat wurde nicht fertig</translation>
    </message>
</context>
<context>
    <name>PrinterMaintenance</name>
    <message>
        <source>%1 (%2 tables)</source>
        <translation>%1 (%2 Tabellen)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1: %2, checksum %3</source>
        <translation>%1: %2, Prüfsumme %3</translation>
    </message>
    <message>
        <source>Demo mode: no virtual %1 attached; the model is not admitted (models.conf, see README).</source>
        <translation>Demomodus: kein virtueller %1 angeschlossen; das Modell ist nicht zugelassen (models.conf, siehe README).</translation>
    </message>
</context>
<context>
    <name>PrinterNaming</name>
    <message>
        <source>printer</source>
        <translation>Drucker</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
</context>
<context>
    <name>PrinterReport</name>
    <message>
        <source>SERIAL</source>
        <translation>SERIENNUMMER</translation>
    </message>
    <message>
        <source>MODEL</source>
        <translation>MODELL</translation>
    </message>
    <message>
        <source>STATUS</source>
        <translation>STATUS</translation>
    </message>
    <message>
        <source>FIRMWARE</source>
        <translation>FIRMWARE</translation>
    </message>
    <message>
        <source>SHIPPED</source>
        <translation>MITGELIEFERT</translation>
    </message>
    <message>
        <source>COUNTER</source>
        <translation>ZÄHLER</translation>
    </message>
    <message>
        <source>TABLES</source>
        <translation>TABELLEN</translation>
    </message>
    <message>
        <source>USB SERIAL</source>
        <translation>USB-SERIENNUMMER</translation>
    </message>
    <message>
        <source>UPDATE</source>
        <translation>AKTUALISIERUNG</translation>
    </message>
    <message>
        <source>phase %1 of 3</source>
        <translation>Phase %1 von 3</translation>
    </message>
</context>
<context>
    <name>PrinterTableModel</name>
    <message>
        <source>USB Open</source>
        <translation>USB geöffnet</translation>
    </message>
    <message>
        <source>USB Available</source>
        <translation>USB verfügbar</translation>
    </message>
    <message>
        <source>Printer</source>
        <translation>Drucker</translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation>Hersteller</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Serial Number</source>
        <translation>Seriennummer</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>USB Status</source>
        <translation>USB-Status</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Lifetime Counter</source>
        <translation>Gesamtzähler</translation>
    </message>
    <message>
        <source>Colour Tables</source>
        <translation>Farbtabellen</translation>
    </message>
    <message>
        <source>USB Serial Number</source>
        <translation>USB-Seriennummer</translation>
    </message>
    <message>
        <source>In use by other application</source>
        <translation>Von einem anderen Programm belegt</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Aktiviert</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Deaktiviert</translation>
    </message>
    <message>
        <source>Unavailable</source>
        <translation>Nicht verfügbar</translation>
    </message>
    <message>
        <source>Updating colour tables ...</source>
        <translation>Farbtabellen werden aktualisiert ...</translation>
    </message>
    <message>
        <source>Writing firmware ...</source>
        <translation>Firmware wird geschrieben ...</translation>
    </message>
    <message>
        <source>%1 (up to date)</source>
        <translation>%1 (aktuell)</translation>
    </message>
    <message>
        <source>%1 (%2 available)</source>
        <translation>%1 (%2 verfügbar)</translation>
    </message>
    <message>
        <source>%1 (newer than %2)</source>
        <translation>%1 (neuer als %2)</translation>
    </message>
    <message>
        <source>%1 of %2 tables</source>
        <translation>%1 von %2 Tabellen</translation>
    </message>
    <message>
        <source>%1 of %2 sent</source>
        <translation>%1 von %2 gesendet</translation>
    </message>
    <message>
        <source>Restarting</source>
        <translation>Startet neu</translation>
    </message>
    <message>
        <source>Restarting: %1, %2 s. Do not unplug it or switch it off.</source>
        <translation>Startet neu: %1, %2 s. Nicht ausstecken oder ausschalten.</translation>
    </message>
    <message>
        <source>The printer restarts during its firmware update and returns by itself.</source>
        <translation>Der Drucker startet während der Firmware-Aktualisierung neu und kommt von selbst zurück.</translation>
    </message>
    <message>
        <source>Updating firmware ...</source>
        <translation>Firmware wird aktualisiert ...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Firmware Update Mode</source>
        <translation>Firmware-Aktualisierungsmodus</translation>
    </message>
    <message>
        <source>Idle</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Printing</source>
        <translation>Druckt</translation>
    </message>
    <message>
        <source>Head cool down cycle</source>
        <translation>Druckkopf kühlt ab</translation>
    </message>
    <message>
        <source>Motor cool down cycle</source>
        <translation>Motor kühlt ab</translation>
    </message>
    <message>
        <source>Sleeping (standby mode)</source>
        <translation>Ruhezustand (Standby)</translation>
    </message>
    <message>
        <source>Cover Open</source>
        <translation>Abdeckung offen</translation>
    </message>
    <message>
        <source>Scrap Box Missing</source>
        <translation>Abfallbehälter fehlt</translation>
    </message>
    <message>
        <source>Paper End</source>
        <translation>Papier zu Ende</translation>
    </message>
    <message>
        <source>Ribbon End</source>
        <translation>Farbband zu Ende</translation>
    </message>
    <message>
        <source>Paper Jam</source>
        <translation>Papierstau</translation>
    </message>
    <message>
        <source>Ribbon Error</source>
        <translation>Farbbandfehler</translation>
    </message>
    <message>
        <source>Wrong Paper</source>
        <translation>Falsches Papier</translation>
    </message>
    <message>
        <source>Bad Data</source>
        <translation>Fehlerhafte Daten</translation>
    </message>
    <message>
        <source>Head Voltage Error</source>
        <translation>Fehler der Druckkopfspannung</translation>
    </message>
    <message>
        <source>Head Position Error</source>
        <translation>Fehler der Druckkopfposition</translation>
    </message>
    <message>
        <source>Power supply Error</source>
        <translation>Fehler der Stromversorgung</translation>
    </message>
    <message>
        <source>Cutter Error</source>
        <translation>Fehler des Schneidwerks</translation>
    </message>
    <message>
        <source>Pinch Roller Error</source>
        <translation>Fehler der Andruckrolle</translation>
    </message>
    <message>
        <source>Head Temp High Error</source>
        <translation>Druckkopf zu heiß</translation>
    </message>
    <message>
        <source>Media Temp Error</source>
        <translation>Fehler der Medientemperatur</translation>
    </message>
    <message>
        <source>Motor Temp Error</source>
        <translation>Fehler der Motortemperatur</translation>
    </message>
    <message>
        <source>Ribbon Tension Error</source>
        <translation>Fehler der Farbbandspannung</translation>
    </message>
    <message>
        <source>RFID Module Error</source>
        <translation>Fehler des RFID-Moduls</translation>
    </message>
    <message>
        <source>System Fail Error</source>
        <translation>Systemfehler</translation>
    </message>
    <message>
        <source>Unknown Status</source>
        <translation>Unbekannter Status</translation>
    </message>
</context>
<context>
    <name>QtAlertPresenter</name>
    <message>
        <source>I Agree</source>
        <translation>Ich stimme zu</translation>
    </message>
    <message>
        <source>Do not show this message again</source>
        <translation>Diese Meldung nicht mehr anzeigen</translation>
    </message>
    <message>
        <source>Printer: %1</source>
        <translation>Drucker: %1</translation>
    </message>
    <message>
        <source>Printer Maintenance</source>
        <translation>Druckerwartung</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
</context>
<context>
    <name>StateStore</name>
    <message>
        <source>a symbolic link</source>
        <translation>ein symbolischer Link</translation>
    </message>
    <message>
        <source>a FIFO</source>
        <translation>ein FIFO</translation>
    </message>
    <message>
        <source>a device</source>
        <translation>ein Gerät</translation>
    </message>
    <message>
        <source>a socket</source>
        <translation>ein Socket</translation>
    </message>
    <message>
        <source>a folder</source>
        <translation>ein Ordner</translation>
    </message>
    <message>
        <source>a file</source>
        <translation>eine Datei</translation>
    </message>
    <message>
        <source>the folder %1 cannot be made: %2</source>
        <translation>der Ordner %1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>the folder %1 cannot be read: %2</source>
        <translation>der Ordner %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>%1 is %2, not a folder</source>
        <translation>%1 ist %2, kein Ordner</translation>
    </message>
    <message>
        <source>%1 is %2, not a regular file</source>
        <translation>%1 ist %2, keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>%1 cannot be used: %2</source>
        <translation>%1 kann nicht verwendet werden: %2</translation>
    </message>
    <message>
        <source>it was written by a newer version of this application</source>
        <translation>sie wurde von einer neueren Version dieser Anwendung geschrieben</translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>TBPrinters</name>
    <message>
        <source>USB Open</source>
        <translation>USB geöffnet</translation>
    </message>
    <message>
        <source>USB Busy</source>
        <translation>USB belegt</translation>
    </message>
    <message>
        <source>USB Available</source>
        <translation>USB verfügbar</translation>
    </message>
    <message>
        <source>%1 (build %2)</source>
        <translation>%1 (Build %2)</translation>
    </message>
</context>
<context>
    <name>TBUSBPrinter</name>
    <message>
        <source>No permission to use this USB device</source>
        <translation>Keine Berechtigung für dieses USB-Gerät</translation>
    </message>
    <message>
        <source>Cannot open the printer (%1)</source>
        <translation>Drucker kann nicht geöffnet werden (%1)</translation>
    </message>
    <message>
        <source>This user may not use the printer&apos;s USB device. Install the udev rule %1 (the printer-maintenance package does), then unplug the printer and plug it in again.</source>
        <translation>Dieser Benutzer darf das USB-Gerät des Druckers nicht verwenden. Installieren Sie die udev-Regel %1 (das Paket printer-maintenance tut das), ziehen Sie dann den Drucker ab und stecken Sie ihn wieder ein.</translation>
    </message>
</context>
<context>
    <name>TBUSBPrinterOLM</name>
    <message>
        <source>Internal error L%d</source>
        <translation>Interner Fehler L%d</translation>
    </message>
    <message>
        <source>Communication error</source>
        <translation>Kommunikationsfehler</translation>
    </message>
    <message>
        <source>Alert</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>This update tool will upgrade the printer firmware to version %1. This process cannot be undone</source>
        <translation>Dieses Aktualisierungsprogramm bringt die Firmware des Druckers auf Version %1. Dieser Vorgang kann nicht rückgängig gemacht werden</translation>
    </message>
    <message>
        <source> Please use up all VLA media before using this update tool.</source>
        <translation> Bitte verbrauchen Sie alle VLA-Medien, bevor Sie dieses Aktualisierungsprogramm verwenden.</translation>
    </message>
    <message>
        <source>This update tool is for the OLM VLA printer. It will upgrade the printer to %1.

Once updated, the VLA printer will REQUIRE the use of VLAQ media packs.%2 This process cannot be undone.</source>
        <translation>Dieses Aktualisierungsprogramm ist für den Drucker OLM VLA. Es bringt den Drucker auf %1.

Nach der Aktualisierung BENÖTIGT der VLA-Drucker VLAQ-Medienpakete.%2 Dieser Vorgang kann nicht rückgängig gemacht werden.</translation>
    </message>
    <message>
        <source>The Selected Printer is Unavailable. (Busy)</source>
        <translation>Der ausgewählte Drucker ist nicht verfügbar. (Belegt)</translation>
    </message>
    <message>
        <source>Attention:</source>
        <translation>Achtung:</translation>
    </message>
    <message>
        <source>A printer was unexpectedly found in firmware update mode. Would you like to update the firmware? </source>
        <translation>Ein Drucker wurde unerwartet im Firmware-Aktualisierungsmodus gefunden. Möchten Sie die Firmware aktualisieren? </translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>Ignorieren</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Firmware aktualisieren</translation>
    </message>
    <message>
        <source>Please power-cycle this printer</source>
        <translation>Bitte schalten Sie diesen Drucker aus und wieder ein</translation>
    </message>
    <message>
        <source>Contact customer support if power-cycling does not resolve the issue.</source>
        <translation>Wenden Sie sich an den Kundendienst, wenn Aus- und Einschalten das Problem nicht behebt.</translation>
    </message>
    <message>
        <source>-- File corruption --

There is a problem with the firmware files.</source>
        <translation>-- Beschädigte Dateien --

Mit den Firmware-Dateien stimmt etwas nicht.</translation>
    </message>
    <message>
        <source>Contact customer support.</source>
        <translation>Wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Before updating the VLA firmware to version %1 you must first update to firmware version 2.0x (or 2.1x).

(the current firmware version is %2)</source>
        <translation>Bevor die VLA-Firmware auf Version %1 aktualisiert werden kann, muss sie zuerst auf Version 2.0x (oder 2.1x) gebracht werden.

(die installierte Firmware-Version ist %2)</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Firmware update not needed</source>
        <translation>Firmware-Aktualisierung nicht nötig</translation>
    </message>
    <message>
        <source>This printer has firmware version %1 installed.</source>
        <translation>Auf diesem Drucker ist die Firmware-Version %1 installiert.</translation>
    </message>
    <message>
        <source>Proceed</source>
        <translation>Fortfahren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Printer Busy</source>
        <translation>Drucker belegt</translation>
    </message>
    <message>
        <source>Another application is using the printer. Please proceed when the printer becomes available.</source>
        <translation>Ein anderes Programm verwendet den Drucker. Bitte fahren Sie fort, sobald der Drucker verfügbar ist.</translation>
    </message>
    <message>
        <source>Printer Error</source>
        <translation>Druckerfehler</translation>
    </message>
    <message>
        <source>The printer is not responding properly. Please power-cycle the printer and try again.</source>
        <translation>Der Drucker antwortet nicht richtig. Bitte schalten Sie den Drucker aus und wieder ein und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Printer Not Ready</source>
        <translation>Drucker nicht bereit</translation>
    </message>
    <message>
        <source>Please correct the following issue: %1</source>
        <translation>Bitte beheben Sie folgendes Problem: %1</translation>
    </message>
    <message>
        <source>-- Warning --

Are you certain you want to update the firmware?</source>
        <translation>-- Warnung --

Möchten Sie die Firmware wirklich aktualisieren?</translation>
    </message>
    <message>
        <source>The printer may be permanently damaged if it is unplugged or loses power during the update process.</source>
        <translation>Der Drucker kann dauerhaft beschädigt werden, wenn er während der Aktualisierung abgezogen wird oder die Stromversorgung verliert.</translation>
    </message>
    <message>
        <source>Update Firmware to %1</source>
        <translation>Firmware auf %1 aktualisieren</translation>
    </message>
    <message>
        <source>There was a problem with the firmware file!</source>
        <translation>Mit der Firmware-Datei gab es ein Problem!</translation>
    </message>
    <message>
        <source>This application may be damaged. Please download a new copy.</source>
        <translation>Diese Anwendung ist möglicherweise beschädigt. Bitte laden Sie eine neue Kopie herunter.</translation>
    </message>
    <message>
        <source>Firmware update was successful!</source>
        <translation>Die Firmware-Aktualisierung war erfolgreich!</translation>
    </message>
    <message>
        <source>Firmware version updated from %1 to %2</source>
        <translation>Firmware-Version von %1 auf %2 aktualisiert</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>There was a problem with the firmware update!</source>
        <translation>Bei der Firmware-Aktualisierung gab es ein Problem!</translation>
    </message>
    <message>
        <source>Previous firmware version: %1 current version: %2</source>
        <translation>Bisherige Firmware-Version: %1, aktuelle Version: %2</translation>
    </message>
    <message>
        <source>The firmware update could not start because the printer could not be opened (%1).

Please switch the printer off and on again and start the update once more.</source>
        <translation>Die Firmware-Aktualisierung konnte nicht beginnen, weil der Drucker nicht geöffnet werden konnte (%1).

Bitte schalten Sie den Drucker aus und wieder ein und starten Sie die Aktualisierung noch einmal.</translation>
    </message>
    <message>
        <source>The firmware update could not go on because the printer could not be opened (%1).

Please switch the printer off and on again and keep it connected. The update continues when the printer returns.</source>
        <translation>Die Firmware-Aktualisierung konnte nicht fortgesetzt werden, weil der Drucker nicht geöffnet werden konnte (%1).

Bitte schalten Sie den Drucker aus und wieder ein und lassen Sie ihn angeschlossen. Die Aktualisierung geht weiter, sobald der Drucker wieder da ist.</translation>
    </message>
    <message>
        <source>The printer is not responding</source>
        <translation>Der Drucker antwortet nicht</translation>
    </message>
    <message>
        <source>The printer has not come back</source>
        <translation>Der Drucker ist nicht zurückgekehrt</translation>
    </message>
    <message>
        <source>The printer was asked to restart into its firmware update mode %1 seconds ago and has not returned.</source>
        <translation>Der Drucker wurde vor %1 Sekunden aufgefordert, im Firmware-Aktualisierungsmodus neu zu starten, und ist nicht zurückgekehrt.</translation>
    </message>
    <message>
        <source>The new firmware was sent to the printer %1 seconds ago and the printer has not restarted.</source>
        <translation>Die neue Firmware wurde vor %1 Sekunden an den Drucker gesendet, und der Drucker ist nicht neu gestartet.</translation>
    </message>
    <message>
        <source>Please switch the printer off and on again and keep it connected. The update continues when the printer returns. Contact customer support if it does not return.</source>
        <translation>Bitte schalten Sie den Drucker aus und wieder ein und lassen Sie ihn angeschlossen. Die Aktualisierung geht weiter, sobald der Drucker wieder da ist. Wenden Sie sich an den Kundendienst, wenn er nicht zurückkehrt.</translation>
    </message>
    <message>
        <source>it was asked to restart into its firmware update mode; its firmware is unchanged</source>
        <translation>er wurde aufgefordert, in seinen Firmware-Aktualisierungsmodus neu zu starten; seine Firmware ist unverändert</translation>
    </message>
    <message>
        <source>it has been sent firmware %1; its colour tables are not all written</source>
        <translation>er hat die Firmware %1 erhalten; seine Farbtabellen sind nicht alle geschrieben</translation>
    </message>
    <message>
        <source>A firmware update is not finished</source>
        <translation>Eine Firmware-Aktualisierung ist nicht abgeschlossen</translation>
    </message>
    <message>
        <source>If you quit now, the update goes on the next time this application runs with the printer connected. Until then the printer may not print correctly.</source>
        <translation>Wenn Sie jetzt beenden, wird die Aktualisierung beim nächsten Start dieses Programms mit angeschlossenem Drucker fortgesetzt. Bis dahin druckt der Drucker möglicherweise nicht richtig.</translation>
    </message>
    <message>
        <source>Keep Running</source>
        <translation>Weiter ausführen</translation>
    </message>
    <message>
        <source>Quit Anyway</source>
        <translation>Trotzdem beenden</translation>
    </message>
    <message>
        <source>The printer could not be opened.</source>
        <translation>Der Drucker konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The printer stopped taking the colour tables; they are erased or incomplete.</source>
        <translation>Der Drucker hat aufgehört, die Farbtabellen anzunehmen; sie sind gelöscht oder unvollständig.</translation>
    </message>
    <message>
        <source>The firmware update is already running</source>
        <translation>Die Firmware-Aktualisierung läuft bereits</translation>
    </message>
    <message>
        <source>The update of %1 is not finished yet. It goes on by itself when the printer returns.</source>
        <translation>Die Aktualisierung von %1 ist noch nicht abgeschlossen. Sie wird von selbst fortgesetzt, wenn der Drucker zurückkehrt.</translation>
    </message>
    <message>
        <source>The new firmware was sent to %1 %2 times and the printer did not take it. It waits in its firmware update mode.

Please switch the printer off and on again. If it returns in its update mode, contact customer support.</source>
        <translation>Die neue Firmware wurde %2-mal an %1 gesendet, und der Drucker hat sie nicht übernommen. Er wartet in seinem Firmware-Aktualisierungsmodus.

Bitte schalten Sie den Drucker aus und wieder ein. Wenn er wieder im Aktualisierungsmodus startet, wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>The update goes on when the printer returns: please switch it off and on again and keep it connected.</source>
        <translation>Die Aktualisierung wird fortgesetzt, wenn der Drucker zurückkehrt: Bitte schalten Sie ihn aus und wieder ein und lassen Sie ihn angeschlossen.</translation>
    </message>
    <message>
        <source>The printer does not report the new firmware version. Please switch it off and on again and run the update once more.</source>
        <translation>Der Drucker meldet nicht die neue Firmware-Version. Bitte schalten Sie ihn aus und wieder ein und führen Sie die Aktualisierung noch einmal aus.</translation>
    </message>
    <message>
        <source>The firmware file %1 cannot be used (%2).</source>
        <translation>Die Firmware-Datei %1 kann nicht verwendet werden (%2).</translation>
    </message>
    <message>
        <source>This application installs firmware %1, but the update was started for %2.</source>
        <translation>Dieses Programm installiert die Firmware %1, die Aktualisierung wurde aber für %2 begonnen.</translation>
    </message>
    <message>
        <source>The firmware update is not finished</source>
        <translation>Die Firmware-Aktualisierung ist nicht abgeschlossen</translation>
    </message>
    <message>
        <source>The firmware update of %1 was interrupted and is not finished. The printer now connected at its USB port, %2, is a different printer and is left as it is.

Please connect %1 again to finish its update.</source>
        <translation>Die Firmware-Aktualisierung von %1 wurde unterbrochen und ist nicht abgeschlossen. Der jetzt an seinem USB-Anschluss angeschlossene Drucker, %2, ist ein anderer Drucker und bleibt unverändert.

Bitte schließen Sie %1 wieder an, um seine Aktualisierung abzuschließen.</translation>
    </message>
    <message>
        <source>%1 does not answer in its firmware update mode.

Please switch the printer off and on again and keep it connected. The update continues when the printer returns.</source>
        <translation>%1 antwortet nicht in seinem Firmware-Aktualisierungsmodus.

Bitte schalten Sie den Drucker aus und wieder ein und lassen Sie ihn angeschlossen. Die Aktualisierung wird fortgesetzt, wenn der Drucker zurückkehrt.</translation>
    </message>
    <message>
        <source>%1 restarted without entering its firmware update mode, so nothing was changed: it still runs firmware %2.

Please switch the printer off and on again and run the update once more.</source>
        <translation>%1 wurde neu gestartet, ohne in seinen Firmware-Aktualisierungsmodus zu wechseln; es wurde nichts geändert: Er läuft weiter mit der Firmware %2.

Bitte schalten Sie den Drucker aus und wieder ein und führen Sie die Aktualisierung noch einmal aus.</translation>
    </message>
    <message>
        <source>%1 restarted without the new firmware %2. Its colour tables were not changed.

Please switch the printer off and on again and run the update once more.</source>
        <translation>%1 wurde ohne die neue Firmware %2 neu gestartet. Seine Farbtabellen wurden nicht geändert.

Bitte schalten Sie den Drucker aus und wieder ein und führen Sie die Aktualisierung noch einmal aus.</translation>
    </message>
    <message>
        <source>Remove the print queues of this printer?</source>
        <translation>Die Druckerwarteschlangen dieses Druckers entfernen?</translation>
    </message>
    <message>
        <source>These print queues reach the printer through its USB serial number, which has changed; they will not find the printer any more:

%1

Remove them now? Add the printer again afterwards to print to it.</source>
        <translation>Diese Druckerwarteschlangen erreichen den Drucker über seine USB-Seriennummer, die sich geändert hat; sie werden den Drucker nicht mehr finden:

%1

Jetzt entfernen? Richten Sie den Drucker danach neu ein, um auf ihm zu drucken.</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>&amp;Keep</source>
        <translation>&amp;Behalten</translation>
    </message>
    <message>
        <source>Removed: %1</source>
        <translation>Entfernt: %1</translation>
    </message>
    <message>
        <source>Not removed: %1</source>
        <translation>Nicht entfernt: %1</translation>
    </message>
    <message>
        <source>The printer could not be opened (%1).</source>
        <translation>Der Drucker konnte nicht geöffnet werden (%1).</translation>
    </message>
    <message>
        <source>The printer has no counter %1.</source>
        <translation>Der Drucker hat keinen Zähler %1.</translation>
    </message>
    <message>
        <source>The printer did not report the counter afterwards.</source>
        <translation>Der Drucker hat den Zähler danach nicht gemeldet.</translation>
    </message>
    <message>
        <source>The printer still reports %1.</source>
        <translation>Der Drucker meldet weiterhin %1.</translation>
    </message>
    <message>
        <source>The printer has no USB serial-number setting.</source>
        <translation>Der Drucker hat keine Einstellung für die USB-Seriennummer.</translation>
    </message>
    <message>
        <source>The printer does not report the new setting.</source>
        <translation>Der Drucker meldet die neue Einstellung nicht.</translation>
    </message>
    <message>
        <source>The firmware update was declined; the printer waits in its firmware update mode.</source>
        <translation>Die Firmware-Aktualisierung wurde abgelehnt; der Drucker wartet in seinem Firmware-Aktualisierungsmodus.</translation>
    </message>
    <message>
        <source>The firmware update was declined; nothing was changed.</source>
        <translation>Die Firmware-Aktualisierung wurde abgelehnt; es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>The printer has not come back.</source>
        <translation>Der Drucker ist nicht zurückgekehrt.</translation>
    </message>
    <message>
        <source>The printer was not ready (%1); nothing was changed.</source>
        <translation>Der Drucker war nicht bereit (%1); es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>keine Antwort</translation>
    </message>
    <message>
        <source>Stopped before anything was written; nothing was changed.</source>
        <translation>Angehalten, bevor etwas geschrieben wurde; es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>The printer could not be opened; nothing was changed.</source>
        <translation>Der Drucker konnte nicht geöffnet werden; es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>The printer could not be opened in its firmware update mode.</source>
        <translation>Der Drucker konnte in seinem Firmware-Aktualisierungsmodus nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Angehalten.</translation>
    </message>
    <message>
        <source>its old firmware</source>
        <translation>seine alte Firmware</translation>
    </message>
    <message>
        <source>Stopped: %1 has been sent firmware %2 but its colour tables are not written yet.</source>
        <translation>Angehalten: %1 hat die Firmware %2 erhalten, seine Farbtabellen sind aber noch nicht geschrieben.</translation>
    </message>
    <message>
        <source>Stopped: %1 was asked to restart into its firmware update mode; it still has %2 and its colour tables.</source>
        <translation>Angehalten: %1 wurde aufgefordert, in seinen Firmware-Aktualisierungsmodus neu zu starten; er hat noch %2 und seine Farbtabellen.</translation>
    </message>
    <message>
        <source>Keep it connected and run the update again to finish it.</source>
        <translation>Lassen Sie ihn angeschlossen und führen Sie die Aktualisierung erneut aus, um sie abzuschließen.</translation>
    </message>
    <message>
        <source>Counter %1 of %2 was not reset: the printer is in use by another program.</source>
        <translation>Zähler %1 von %2 wurde nicht zurückgesetzt: Der Drucker wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 was not changed: the printer is in use by another program.</source>
        <translation>Die USB-Seriennummer von %1 wurde nicht geändert: Der Drucker wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 was not changed: the printer could not be opened (%2).</source>
        <translation>Die USB-Seriennummer von %1 wurde nicht geändert: Der Drucker konnte nicht geöffnet werden (%2).</translation>
    </message>
    <message>
        <source>This printer already has firmware version %1. This update tool would reinstall the same version. This process cannot be undone</source>
        <translation>Dieser Drucker hat bereits die Firmware-Version %1. Dieses Aktualisierungsprogramm würde dieselbe Version erneut installieren. Dieser Vorgang kann nicht rückgängig gemacht werden</translation>
    </message>
    <message>
        <source>This printer has firmware version %1, newer than %2. This update tool would install the older version %2. This process cannot be undone</source>
        <translation>Dieser Drucker hat die Firmware-Version %1, neuer als %2. Dieses Aktualisierungsprogramm würde die ältere Version %2 installieren. Dieser Vorgang kann nicht rückgängig gemacht werden</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>The firmware of %1 was not updated: the printer is in use by another program.</source>
        <translation>Die Firmware von %1 wurde nicht aktualisiert: Der Drucker wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>Reinstall Firmware %1</source>
        <translation>Firmware %1 erneut installieren</translation>
    </message>
    <message>
        <source>Install Older Firmware %1</source>
        <translation>Ältere Firmware %1 installieren</translation>
    </message>
    <message>
        <source>The printer did not answer.</source>
        <translation>Der Drucker hat nicht geantwortet.</translation>
    </message>
    <message>
        <source>The update&apos;s record cannot be kept, so an interrupted update could not be finished. Nothing was written to the printer.

%1</source>
        <translation>Die Aufzeichnung der Aktualisierung kann nicht gespeichert werden; eine unterbrochene Aktualisierung ließe sich so nicht beenden. Es wurde nichts auf den Drucker geschrieben.

%1</translation>
    </message>
    <message>
        <source>The firmware update cannot start</source>
        <translation>Die Firmware-Aktualisierung kann nicht beginnen</translation>
    </message>
    <message>
        <source>An unfinished firmware update was abandoned</source>
        <translation>Eine unvollendete Firmware-Aktualisierung wurde aufgegeben</translation>
    </message>
    <message>
        <source>These printers have not been connected for %1 days. Their unfinished updates are recorded in the history as abandoned. Connect such a printer and update it again.</source>
        <translation>Diese Drucker waren seit %1 Tagen nicht angeschlossen. Ihre unvollendeten Aktualisierungen sind im Verlauf als aufgegeben vermerkt. Schließen Sie einen solchen Drucker an und aktualisieren Sie ihn erneut.</translation>
    </message>
    <message>
        <source>The update was abandoned: the printer has not been connected for %1 days.</source>
        <translation>Die Aktualisierung wurde aufgegeben: Der Drucker war seit %1 Tagen nicht angeschlossen.</translation>
    </message>
    <message>
        <source>It had been sent firmware %1; its colour tables are not all written.</source>
        <translation>Er hatte Firmware %1 erhalten; seine Farbtabellen sind nicht alle geschrieben.</translation>
    </message>
    <message>
        <source>It had been asked to restart into its firmware update mode.</source>
        <translation>Er war aufgefordert worden, in seinen Firmware-Aktualisierungsmodus neu zu starten.</translation>
    </message>
    <message>
        <source>Being updated by another program (%1)</source>
        <translation>Wird von einem anderen Programm aktualisiert (%1)</translation>
    </message>
    <message>
        <source>Being updated by another program</source>
        <translation>Wird von einem anderen Programm aktualisiert</translation>
    </message>
    <message>
        <source>%1 is being updated or changed by another program: %2.

Nothing was changed. Try again when that program has finished.</source>
        <translation>%1 wird gerade von einem anderen Programm aktualisiert oder geändert: %2.

Es wurde nichts geändert. Versuchen Sie es erneut, wenn dieses Programm fertig ist.</translation>
    </message>
    <message>
        <source>another program</source>
        <translation>ein anderes Programm</translation>
    </message>
    <message>
        <source>process %1</source>
        <translation>Prozess %1</translation>
    </message>
    <message>
        <source>process %1 (%2)</source>
        <translation>Prozess %1 (%2)</translation>
    </message>
    <message>
        <source>no lock directory could be made</source>
        <translation>es konnte kein Verzeichnis für die Sperren angelegt werden</translation>
    </message>
    <message>
        <source>the lock file %1 cannot be opened (%2)</source>
        <translation>die Sperrdatei %1 kann nicht geöffnet werden (%2)</translation>
    </message>
    <message>
        <source>Please switch %1 off and on now to complete the change.</source>
        <translation>Bitte schalten Sie %1 jetzt aus und wieder ein, um die Änderung abzuschließen.</translation>
    </message>
    <message>
        <source>The print queues of %1 could not be checked: %2.</source>
        <translation>Die Druckerwarteschlangen von %1 konnten nicht geprüft werden: %2.</translation>
    </message>
    <message>
        <source>No print queue reaches %1 by its USB serial number.</source>
        <translation>Keine Druckerwarteschlange erreicht %1 über seine USB-Seriennummer.</translation>
    </message>
    <message>
        <source>Demo mode: the print queues of %1 were left alone: %2.</source>
        <translation>Demo-Modus: Die Druckerwarteschlangen von %1 wurden nicht verändert: %2.</translation>
    </message>
    <message>
        <source>The print queues of %1 were kept: %2.</source>
        <translation>Die Druckerwarteschlangen von %1 wurden behalten: %2.</translation>
    </message>
    <message>
        <source>%1 print queue(s) of %2 removed: %3.</source>
        <translation>%1 Druckerwarteschlange(n) von %2 entfernt: %3.</translation>
    </message>
    <message>
        <source>The print queues of %1 were removed.</source>
        <translation>Die Druckerwarteschlangen von %1 wurden entfernt.</translation>
    </message>
    <message>
        <source>Some print queues of %1 could not be removed.</source>
        <translation>Einige Druckerwarteschlangen von %1 konnten nicht entfernt werden.</translation>
    </message>
    <message>
        <source>The reset could not be confirmed: the printer reports &quot;%1&quot;.</source>
        <translation>Das Zurücksetzen konnte nicht bestätigt werden: Der Drucker meldet &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>%1 (it reports version %2)</source>
        <translation>%1 (er meldet Version %2)</translation>
    </message>
    <message>
        <source>The printer did not take the colour table %1.</source>
        <translation>Der Drucker hat die Farbtabelle %1 nicht angenommen.</translation>
    </message>
    <message>
        <source>The printer did not take the colour tables %1.</source>
        <translation>Der Drucker hat die Farbtabellen %1 nicht angenommen.</translation>
    </message>
    <message>
        <source>%1 does not answer after the new firmware was sent.

Please switch the printer off and on again and keep it connected. The update continues when the printer returns.</source>
        <translation>%1 antwortet nicht, nachdem die neue Firmware gesendet wurde.

Bitte schalten Sie den Drucker aus und wieder ein und lassen Sie ihn angeschlossen. Die Aktualisierung wird fortgesetzt, sobald der Drucker zurück ist.</translation>
    </message>
    <message>
        <source>There is no firmware for this printer.</source>
        <translation>Für diesen Drucker gibt es keine Firmware.</translation>
    </message>
    <message>
        <source>The firmware of %1 was not updated: the printer is not idle (%2); it may be in use by another program. Nothing was changed.</source>
        <translation>Die Firmware von %1 wurde nicht aktualisiert: Der Drucker ist nicht bereit (%2); möglicherweise verwendet ihn ein anderes Programm. Es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>The colour tables were sent to %1 %2 times and the printer did not take them.

Please contact customer support.</source>
        <translation>Die Farbtabellen wurden %2-mal an %1 gesendet, und der Drucker hat sie nicht angenommen.

Bitte wenden Sie sich an den Kundendienst.</translation>
    </message>
    <message>
        <source>The colour tables were written, but the printer&apos;s firmware version could not be confirmed. Please switch the printer off and on again and check its version.</source>
        <translation>Die Farbtabellen wurden geschrieben, aber die Firmware-Version des Druckers konnte nicht bestätigt werden. Bitte schalten Sie den Drucker aus und wieder ein und prüfen Sie seine Version.</translation>
    </message>
    <message>
        <source>%1 holds the printer; nothing was done.</source>
        <translation>%1 belegt den Drucker; es wurde nichts getan.</translation>
    </message>
    <message>
        <source>The installed version could not be read: refresh and try again. Nothing was changed.</source>
        <translation>Die installierte Version konnte nicht gelesen werden: Neu einlesen und erneut versuchen. Es wurde nichts geändert.</translation>
    </message>
</context>
<context>
    <name>UpdatePhase</name>
    <message>
        <source>Phase %1 of %2</source>
        <translation>Phase %1 von %2</translation>
    </message>
    <message>
        <source>restarting the printer into its update mode</source>
        <translation>Neustart des Druckers in den Aktualisierungsmodus</translation>
    </message>
    <message>
        <source>writing the new firmware</source>
        <translation>Schreiben der neuen Firmware</translation>
    </message>
    <message>
        <source>writing the colour tables</source>
        <translation>Schreiben der Farbtabellen</translation>
    </message>
</context>
<context>
    <name>UpdateResults</name>
    <message>
        <source>%1 updated</source>
        <translation>%1 aktualisiert</translation>
    </message>
    <message>
        <source>%1 up to date</source>
        <translation>%1 aktuell</translation>
    </message>
    <message>
        <source>%1 busy</source>
        <translation>%1 belegt</translation>
    </message>
    <message>
        <source>%1 declined</source>
        <translation>%1 abgelehnt</translation>
    </message>
    <message>
        <source>%1 failed</source>
        <translation>%1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 stopped</source>
        <translation>%1 angehalten</translation>
    </message>
    <message>
        <source>%1 not found</source>
        <translation>%1 nicht gefunden</translation>
    </message>
    <message>
        <source>no printer</source>
        <translation>kein Drucker</translation>
    </message>
</context>
<context>
    <name>UpdateStatusIndicator</name>
    <message>
        <source>the printer is restarting</source>
        <translation>der Drucker startet neu</translation>
    </message>
    <message>
        <source>Firmware update running: %1, %2 (%3).</source>
        <translation>Firmware-Aktualisierung läuft: %1, %2 (%3).</translation>
    </message>
    <message>
        <source>Do not unplug the printer or switch it off.</source>
        <translation>Ziehen Sie den Drucker nicht ab und schalten Sie ihn nicht aus.</translation>
    </message>
</context>
<context>
    <name>pm::cli::CliRun</name>
    <message>
        <source>No supported printer is connected.</source>
        <translation>Kein unterstützter Drucker ist angeschlossen.</translation>
    </message>
    <message>
        <source>No update has been recorded on this machine.</source>
        <translation>Auf diesem Rechner wurde noch keine Aktualisierung aufgezeichnet.</translation>
    </message>
    <message>
        <source>no printer with serial number %1 is connected</source>
        <translation>kein Drucker mit der Seriennummer %1 ist angeschlossen</translation>
    </message>
    <message>
        <source>Reset counter %1 of %2?</source>
        <translation>Zähler %1 von %2 zurücksetzen?</translation>
    </message>
    <message>
        <source>The counter starts again from zero. This cannot be undone.</source>
        <translation>Der Zähler beginnt wieder bei null. Dies kann nicht rückgängig gemacht werden.</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Counter %1 was not reset.</source>
        <translation>Zähler %1 wurde nicht zurückgesetzt.</translation>
    </message>
    <message>
        <source>Counter %1 of %2 was reset to zero.</source>
        <translation>Zähler %1 von %2 wurde auf null zurückgesetzt.</translation>
    </message>
    <message>
        <source>the printer is in use by another program.</source>
        <translation>der Drucker wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>Counter %1 of %2 was not reset: %3</source>
        <translation>Zähler %1 von %2 wurde nicht zurückgesetzt: %3</translation>
    </message>
    <message>
        <source>the USB serial number of %1 cannot be switched (not read)</source>
        <translation>die USB-Seriennummer von %1 kann nicht umgeschaltet werden (nicht gelesen)</translation>
    </message>
    <message>
        <source>the USB serial number of %1 cannot be switched (not supported)</source>
        <translation>die USB-Seriennummer von %1 kann nicht umgeschaltet werden (nicht unterstützt)</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is already on.</source>
        <translation>Die USB-Seriennummer von %1 ist schon eingeschaltet.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is already off.</source>
        <translation>Die USB-Seriennummer von %1 ist schon ausgeschaltet.</translation>
    </message>
    <message>
        <source>Switch the USB serial number of %1 on?</source>
        <translation>Die USB-Seriennummer von %1 einschalten?</translation>
    </message>
    <message>
        <source>Switch the USB serial number of %1 off?</source>
        <translation>Die USB-Seriennummer von %1 ausschalten?</translation>
    </message>
    <message>
        <source>The printer must be switched off and on afterwards. Print queues that reach it by its USB serial number will not find it any more.</source>
        <translation>Der Drucker muss danach aus- und wieder eingeschaltet werden. Druckerwarteschlangen, die ihn über seine USB-Seriennummer erreichen, finden ihn dann nicht mehr.</translation>
    </message>
    <message>
        <source>Switch</source>
        <translation>Umschalten</translation>
    </message>
    <message>
        <source>The USB serial number was not changed.</source>
        <translation>Die USB-Seriennummer wurde nicht geändert.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is now on; switch the printer off and on to complete the change.</source>
        <translation>Die USB-Seriennummer von %1 ist jetzt eingeschaltet; schalten Sie den Drucker aus und wieder ein, um die Änderung abzuschließen.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 is now off; switch the printer off and on to complete the change.</source>
        <translation>Die USB-Seriennummer von %1 ist jetzt ausgeschaltet; schalten Sie den Drucker aus und wieder ein, um die Änderung abzuschließen.</translation>
    </message>
    <message>
        <source>The USB serial number of %1 was not changed: %2</source>
        <translation>Die USB-Seriennummer von %1 wurde nicht geändert: %2</translation>
    </message>
    <message>
        <source>phase %1 of 3: %2</source>
        <translation>Phase %1 von 3: %2</translation>
    </message>
    <message>
        <source>asking the printer to restart into its firmware update mode</source>
        <translation>der Drucker wird gebeten, im Firmware-Aktualisierungsmodus neu zu starten</translation>
    </message>
    <message>
        <source>sending the firmware</source>
        <translation>die Firmware wird gesendet</translation>
    </message>
    <message>
        <source>writing the colour tables</source>
        <translation>die Farbtabellen werden geschrieben</translation>
    </message>
    <message>
        <source>%1 bytes of firmware sent</source>
        <translation>%1 Bytes Firmware gesendet</translation>
    </message>
    <message>
        <source>the printer restarts</source>
        <translation>der Drucker startet neu</translation>
    </message>
    <message>
        <source>the printer is back</source>
        <translation>der Drucker ist wieder da</translation>
    </message>
    <message>
        <source>%1 colour tables written</source>
        <translation>%1 Farbtabellen geschrieben</translation>
    </message>
    <message>
        <source>Stopping: each update stops at its next safe point.</source>
        <translation>Anhalten: jede Aktualisierung hält an ihrem nächsten sicheren Punkt an.</translation>
    </message>
    <message>
        <source>no supported printer is connected; nothing to do</source>
        <translation>kein unterstützter Drucker ist angeschlossen; nichts zu tun</translation>
    </message>
    <message>
        <source>the update did not end within %1 minutes</source>
        <translation>die Aktualisierung endete nicht innerhalb von %1 Minuten</translation>
    </message>
    <message>
        <source>Nothing was written: there was no terminal to ask. Give --yes to answer yes.</source>
        <translation>Nichts wurde geschrieben: es gab kein Terminal für die Frage. Mit --yes wird mit Ja geantwortet.</translation>
    </message>
    <message>
        <source>the update history cannot be read: %1</source>
        <translation>der Aktualisierungsverlauf kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>could not write %1: %2</source>
        <translation>%1 konnte nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Summary: %1</source>
        <translation>Zusammenfassung: %1</translation>
    </message>
    <message>
        <source>No recorded update matches.</source>
        <translation>Keine aufgezeichnete Aktualisierung passt.</translation>
    </message>
    <message>
        <source>The USB serial number of %1: stopped before the printer confirmed the change.</source>
        <translation>Die USB-Seriennummer von %1: angehalten, bevor der Drucker die Änderung bestätigt hat.</translation>
    </message>
    <message>
        <source>it is being changed by another program (%1); nothing was done.</source>
        <translation>er wird gerade von einem anderen Programm geändert (%1); es wurde nichts getan.</translation>
    </message>
</context>
<context>
    <name>pm::cli::TerminalAlertPresenter</name>
    <message>
        <source>(stopping: no)</source>
        <translation>(Anhalten: nein)</translation>
    </message>
    <message>
        <source>(not a printer named on the command line: no)</source>
        <translation>(kein auf der Befehlszeile genannter Drucker: nein)</translation>
    </message>
    <message>
        <source>(--yes: %1)</source>
        <translation>(--yes: %1)</translation>
    </message>
    <message>
        <source>(not done: this removes settings; give --remove-queues or --keep-queues)</source>
        <translation>(nicht getan: das entfernt Einstellungen; geben Sie --remove-queues oder --keep-queues an)</translation>
    </message>
    <message>
        <source>(not done: no terminal to ask; give --yes to answer yes)</source>
        <translation>(nicht getan: kein Terminal zum Fragen; geben Sie --yes an, um mit Ja zu antworten)</translation>
    </message>
</context>
</TS>
