#include "ui/StringTable.h"

#include <algorithm>
#include <iterator>

namespace
{

struct Entry
{
    unsigned id;
    const char* text; // UTF-8
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {129, "Tessaro - Messwerterfassung läuft."},
    {192, "|Adresse|Port|Sensor|Einheit|Intervall|Beschreibung|Status"},
    {193, "Excel-Arbeitsblätter"},
    {194, "Alle Dateien"},
    {224, "Fehler beim Initialisieren der OLE-Systembibliotheken."},
    {226, "Die ausgewählte Datei entspricht nicht dem erwarteten Format."},
    {227, "Die angegebene Datenquelle existiert nicht."},
    {256, "Sensordaten exportieren"},
    {325, "Namensauflösung..."},
    {326, "Verbindungsaufbau..."},
    {328, "Nach Sensorgeräten suchen..."},
    {329, "Verbindung getrennt"},
    {330, "deaktiviert"},
    {331, "Datenbankzugriff..."},
    {332, "%d Werte, %d gültig, %d von heute"},
    {600, "Datenbank nicht erreichbar - %d Messwerte gepuffert"},
    {601, "Gepufferte Messwerte werden nachgetragen - noch %d"},
    {602, "Puffer voll - %d Messwerte verworfen"},
    {603, "Keine Verbindung zur Datenbank."},
    {604, "Die Datenbank hat nicht innerhalb von %d Sekunden geantwortet."},
    {605, "Folgende Sensoren werden nicht aufgezeichnet:"},
    {606, "%1 länger als %2 Zeichen"},
    {607, "%1 enthält ein Nullzeichen"},
    {608, "kein Eintrag in der Sensortabelle"},
    {609, "Sensor %3 an %1:%2"},
    {610, "Messwerte, die die Datenbank nicht annimmt, können nicht gepuffert werden: "},
    {650, "Die Suchanfrage nach Sensorgeräten konnte in kein Netzwerk gesendet werden:\n%1"},
    {651, "Beim letzten Beenden des Programms blieben Änderungen an %1 ungespeichert; sie "
          "wurden aufbewahrt.\nWiederherstellen?"},
    {700, "%1 wurde seit dem Öffnen geändert.\nTrotzdem speichern?"},
    {701, "%1 ist bereits vorhanden.\nSoll die Datei ersetzt werden?"},
    {702, "Die Daten stehen in %1 und in der Arbeitsmappe %2.\nKein Programm dieses Rechners "
          "kann diese Dateien öffnen."},
    {750, "Zeigt die Messwerte der gewählten Sensoren im zeitlichen Verlauf als Diagramm an.\n"
          "Verlauf anzeigen"},
    {751, "Verlauf - %1"},
    {752, "nur Daten der &letzten"},
    {753, "Tage"},
    {754, "&Zoom zurücksetzen"},
    {755, "Messwerte werden gelesen..."},
    {756, "%1 Messwerte, davon %2 ohne Wert"},
    {757, "Keine Messwerte in diesem Zeitraum."},
    {758, "Die Messwerte konnten nicht gelesen werden:\n%1"},
    {759, "Mausrad oder Rahmen ziehen: Ausschnitt vergrößern; rechte Maustaste: verkleinern"},
    {770, "Aufruf: tessaro [DATEI]\n"
          "       tessaro --help | --version\n"
          "\n"
          "Tessaro zeichnet die Messwerte von Sensorgeräten im Netzwerk in einer\n"
          "ODBC-Datenquelle auf.\n"
          "\n"
          "  DATEI        die Konfigurationsdatei (*.ini), die geöffnet wird;\n"
          "               danach wird die zuletzt verwendete geöffnet\n"
          "  --help       diesen Text zeigen\n"
          "  --version    die Versionsnummer zeigen\n"
          "\n"
          "Optionen von Qt wie -platform oder -style werden ebenfalls angenommen.\n"
          "Ohne Fenster zeichnet tessaro-cli auf (tessaro-cli --help).\n"},
    {771, "tessaro: unbekannte Option '%1' (tessaro --help zeigt die Optionen)\n"},
    {32772, "Netzwerk nach Arveda-Sensorgeräten durchsuchen und automatisch zur Konfiguration "
            "hinzufügen.\nNetzwerk durchsuchen"},
    {32773, "Sensor im Netzwerk zur Konfigurationsliste hinzufügen.\nNeuer Sensor"},
    {32774, "Sensoreigenschaften bearbeiten.\nSensoreigenschaften"},
    {32775, "Schließt einzelne Sensoren von der Verwendung aus, ohne sie aus der Liste zu "
            "entfernen.\nSensor (de-)aktivieren"},
    {32778, "Fragt beim Verbinden mit der Datenbank nach Anmeldeinformationen."},
    {32779, "Verhindert versehentliches Auswählen einer anderen Datenquelle.\nAuswahl sperren"},
    {32780, "Name der zu verwendenden ODBC-Datenquelle.\nODBC-Datenquelle"},
    {32781, "Einstellungen des ODBC-Treibers bearbeiten (Datei/Datenbank auswählen usw.).\n"
            "ODBC-Einstellungen"},
    {32786, "Schreibt die Messwerte des gewählten Sensors in eine Datei und stellt sie als "
            "Diagramm dar.\nDatenreihe exportieren"},
    {32787, "Schreibt Tageshöchst-, Durchschnitts- und Tiefstwerte des gewählten Sensors in eine "
            "Datei und stellt sie als Diagramm dar.\nZusammenfassung exportieren"},
    {32788, "Beginnt/beendet das Schreiben von Sensorwerten in die Datenbank.\n"
            "Aufzeichnung Start/Stop"},
    {32789, "Zeigt das Programmfenster wieder an."},
    {32790, "Passt die Breite der Tabellenspalten an ihren Inhalt an."},
    {32793, "Ermittelt die Anzahl aufgezeichneter Sensorwerte in der Datenbank.\n"
            "Datenbank-Statistik"},
    {32794, "Baut eine Web-Browser-Verbindung zum Gerät auf.\nWeb-Browser"},
    {32796, "Die ODBC-Datenquelle unter gleichem Namen, aber mit anderem Treiber neu anlegen."},
    {57344, "Tessaro"},
    {57345, "Bereit"},
    {57600, "Beginnt eine neue, leere Konfiguration.\nNeu"},
    {57601, "Öffnet eine gespeicherte Konfiguration.\nÖffnen"},
    {57603, "Speichert die Konfiguration.\nSpeichern"},
    {57604, "Speichert die Konfiguration unter einem neuen Namen.\nSpeichern unter"},
    {57616, "Öffnet diese Konfiguration."},
    {57617, "Öffnet diese Konfiguration."},
    {57618, "Öffnet diese Konfiguration."},
    {57619, "Öffnet diese Konfiguration."},
    {57632, "Markierte Elemente löschen.\nLöschen"},
    {57634, "Kopiert die Markierung und überträgt sie in die Zwischenablage.\nKopieren"},
    {57635, "Entfernt die Markierung und überträgt sie in die Zwischenablage.\nAusschneiden"},
    {57637, "Fügt den Inhalt der Zwischenablage ein.\nEinfügen"},
    {57642, "Markiert das gesamte Dokument.\nAlles markieren"},
    {57643, "Gelöschte Elemente wiederherstellen.\nRückgängig"},
    {57664, "Zeigt Versionsnummer und Copyright des Programms an.\nInfo"},
    {57665, "Beendet das Programm; fragt, ob Änderungen gespeichert werden sollen.\nBeenden"},
    {59137, "UF"},
    {59138, "NUM"},
    {59139, "RF"},
    {59392, "Blendet die Symbolleiste ein oder aus.\nSymbolleiste ein/aus"},
    {59393, "Blendet die Statusleiste ein oder aus.\nStatusleiste ein/aus"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

} // namespace

QString LoadString(unsigned id)
{
    const auto* entry = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                         [](const Entry& candidate, unsigned wanted)
                                         { return candidate.id < wanted; });
    if (entry == std::end(kStrings) || entry->id != id)
        return {};
    return QString::fromUtf8(entry->text);
}

QString CommandPrompt(unsigned id)
{
    const QString text = LoadString(id);
    return text.left(text.indexOf(QLatin1Char('\n')));
}

QString CommandTooltip(unsigned id)
{
    const QString text = LoadString(id);
    const qsizetype lf = text.indexOf(QLatin1Char('\n'));
    return lf < 0 ? QString() : text.mid(lf + 1);
}
