<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>MainWindow</name>
    <message>
        <source>Printer Maintenance</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Firmware…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update the firmware and colour tables of the selected printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read the status and properties of the selected printer again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Counter A…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Counter B…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Counter M…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset Counter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Demo mode: virtual printers (PRINTER_MAINTENANCE_SIMULATE=%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset counter %1 of %2?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The counter starts again from zero. This cannot be undone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NoPrinterPage</name>
    <message>
        <source>No supported printer is connected.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;Printers appear here as soon as they are plugged in. If yours does not, check:&lt;/p&gt;&lt;ul&gt;&lt;li&gt;the USB cable: firmly plugged in at both ends (try another port or cable);&lt;/li&gt;&lt;li&gt;the power: the printer is switched on and has finished starting up;&lt;/li&gt;&lt;li&gt;the permission: your user may use the printer&apos;s USB device (usually granted by a udev rule for the printer), and no other program holds it.&lt;/li&gt;&lt;/ul&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;To try this application without a printer, start it in demo mode with virtual printers:&lt;br&gt;&lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA printer-maintenance&lt;/code&gt; &amp;nbsp;(or &lt;code&gt;make demo&lt;/code&gt; in the source tree).&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;Demo mode is on (PRINTER_MAINTENANCE_SIMULATE=%1), but it attached no printer. Try &lt;code&gt;PRINTER_MAINTENANCE_SIMULATE=PZA&lt;/code&gt;.&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;A printer that is restarting, for example during a firmware update, leaves this list for a few seconds and comes back by itself. Do not unplug it or switch it off.&lt;/b&gt;&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PrinterMaintenance</name>
    <message>
        <source>%1 (%2 tables)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2, checksum %3</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PrinterTableModel</name>
    <message>
        <source>USB Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lifetime Counter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Colour Tables</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Serial Number</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QtAlertPresenter</name>
    <message>
        <source>I Agree</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Do not show this message again</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TBPrinters</name>
    <message>
        <source>USB Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Busy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB Available</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TBUSBPrinterOLM</name>
    <message>
        <source>Internal error L%d</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Alert</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This update tool will upgrade the printer firmware to version %1. This process cannot be undone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Please use up all VLA media before using this update tool.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This update tool is for the OLM VLA printer. It will upgrade the printer to %1.

Once updated, the VLA printer will REQUIRE the use of VLAQ media packs.%2 This process cannot be undone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please power-cycle the selected printer now to complete the process!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Selected Printer is Unavailable. (Busy)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Attention:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A printer was unexpectedly found in firmware update mode. Would you like to update the firmware? </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please power-cycle this printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Contact customer support if power-cycling does not resolve the issue.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>-- File corruption --

There is a problem with the firmware files.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Contact customer support.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Before updating the VLA firmware to version %1 you must first update to firmware version 2.0x (or 2.1x).

(the current firmware version is %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Continue</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware update not needed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This printer has firmware version %1 installed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Proceed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printer Busy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Another application is using the printer. Please proceed when the printer becomes available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printer Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The printer is not responding properly. Please power-cycle the printer and try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printer Not Ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please correct the following issue: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>-- Warning --

Are you certain you want to update the firmware?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The printer may be permanently damaged if it is unplugged or loses power during the update process.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Firmware to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There was a problem with the firmware file!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This application may be damaged. Please download a new copy.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware update was successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware version updated from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Finish</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There was a problem with the firmware update!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous firmware version: %1 current version: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The firmware update could not start because the printer could not be opened (%1).

Please switch the printer off and on again and start the update once more.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The firmware update could not go on because the printer could not be opened (%1).

Please switch the printer off and on again and keep it connected. The update continues when the printer returns.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The printer is not responding</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The printer has not come back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The printer was asked to restart into its firmware update mode %1 seconds ago and has not returned.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The new firmware was sent to the printer %1 seconds ago and the printer has not restarted.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please switch the printer off and on again and keep it connected. The update continues when the printer returns. Contact customer support if it does not return.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
