#pragma once

#include <QString>

class ServiceStore;

// The demo account of a new data directory, and a second user whose data
// must never show up in the first one's mirror.
//
// Demo user "mario.rossi", password "Conserva2013!":
// - profile "Archivio aziendale" (quota 500 MB) with the classes
//   "Fatture attive" and "Note di credito" (group "Fatture"), "Fatture passive"
//   (group "Fatture passive"), "Contratti di fornitura" (group "Contratti"),
//   "Contratti di lavoro" and "Cedolini" (group "Personale"), "Verbali di
//   assemblea" (group "Societario"); text, number and date fields, required
//   and optional, with tooltips;
// - profile "Archivio personale" (quota 0: no limit) with "Ricevute" and
//   "Certificati";
// - about forty preserved documents with their values (many mention 2013),
//   some of them corrected once or twice.
// Second user "laura.bianchi", password "Archivio2013!": one profile, one
// class, a few documents.
class DemoSeed {
public:
    static QString userName() { return QStringLiteral("mario.rossi"); }
    static QString password() { return QStringLiteral("Conserva2013!"); }
    static QString otherUserName() { return QStringLiteral("laura.bianchi"); }
    static QString otherPassword() { return QStringLiteral("Archivio2013!"); }

    // Fills an empty store; false with a reason when anything fails.
    static bool seed(ServiceStore &store, QString *error);
};
