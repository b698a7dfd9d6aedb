#include "DemoSeed.h"

#include "ServiceStore.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QStringList>

namespace {
struct FieldPlan {
    const char *name;
    int type;
    bool required;
    const char *tooltip;
};

struct ClassPlan {
    const char *name;
    const char *groups;
    QList<FieldPlan> fields;
    int documents;
    const char *folder; // the user's folder the files come from
    const char *filePattern;
};

class Seeder {
public:
    explicit Seeder(ServiceStore &store)
        : m_store(store)
        , m_random(2013) {}

    bool run();
    QString error() const { return m_error; }

private:
    bool check(bool ok) {
        if (!ok && m_error.isEmpty())
            m_error = m_store.lastError();
        return ok;
    }
    int addClass(const QString &profileId, const QString &policyId, const ClassPlan &plan,
                 QList<int> *fieldIds);
    QString valueFor(const FieldPlan &field, int index);
    bool preserveAll(const QString &owner, const QString &home, int classId, const ClassPlan &plan,
                     const QList<int> &fieldIds, int corrections);

    ServiceStore &m_store;
    QRandomGenerator m_random;
    QString m_error;
};

const QStringList kCompanies = {
    QStringLiteral("Rossi Forniture S.r.l."),    QStringLiteral("Edilnord S.p.A."),
    QStringLiteral("Tipografia Bianchi S.n.c."), QStringLiteral("Studio Verdi & Associati"),
    QStringLiteral("Trasporti Esposito S.r.l."), QStringLiteral("Alimentari Colombo"),
    QStringLiteral("Officine Romano S.p.A."),    QStringLiteral("Ferramenta Ricci"),
};
const QStringList kPeople = {
    QStringLiteral("Giuseppe Ferrari"), QStringLiteral("Anna Russo"),
    QStringLiteral("Marco Gallo"),      QStringLiteral("Francesca Conti"),
    QStringLiteral("Luca De Luca"),     QStringLiteral("Chiara Mancini"),
};

QString Seeder::valueFor(const FieldPlan &field, int index) {
    const QString name = QString::fromUtf8(field.name);
    if (field.type == FieldType::Date) {
        const QDate date = QDate(2013, 1, 7).addDays(index * 23 + int(m_random.bounded(20)));
        return date.toString(QStringLiteral("dd/MM/yyyy"));
    }
    if (field.type == FieldType::Number) {
        if (name == QLatin1String("Mese"))
            return QString::number(index % 12 + 1);
        if (name == QLatin1String("Anno"))
            return QStringLiteral("2013");
        if (name.startsWith(QLatin1String("Protocollo")))
            return QString::number(2013000 + index * 7);
        return QStringLiteral("%1,%2")
            .arg(200 + m_random.bounded(9800))
            .arg(m_random.bounded(100), 2, 10, QLatin1Char('0'));
    }
    if (name.startsWith(QLatin1String("Numero")))
        return QStringLiteral("%1/2013").arg(index + 1, 4, 10, QLatin1Char('0'));
    if (name.contains(QLatin1String("IVA")))
        return QStringLiteral("IT0%1").arg(1234567000 + index * 131);
    if (name == QLatin1String("Dipendente") ||
        (name == QLatin1String("Controparte") && index % 3 == 0))
        return kPeople.at(index % kPeople.size());
    if (name == QLatin1String("Controparte") || name == QLatin1String("Fornitore") ||
        name == QLatin1String("Cliente") || name == QLatin1String("Ente"))
        return kCompanies.at(index % kCompanies.size());
    if (name == QLatin1String("Matricola"))
        return QStringLiteral("MT-%1").arg(100 + index);
    if (name == QLatin1String("Oggetto"))
        return QStringLiteral("Fornitura di materiale per l'esercizio 2013, lotto %1")
            .arg(index + 1);
    if (name == QLatin1String("Descrizione"))
        return QStringLiteral("Spesa documentata n. %1 del 2013").arg(index + 1);
    if (name == QLatin1String("Fattura di riferimento"))
        return QStringLiteral("FA %1/2013").arg(index + 3, 4, 10, QLatin1Char('0'));
    if (name == QLatin1String("Ordine del giorno"))
        return QStringLiteral("Approvazione del bilancio 2013 e nomina del collegio sindacale");
    if (field.required)
        return QStringLiteral("Valore %1").arg(index + 1);
    return index % 2 ? QStringLiteral("Documento verificato dall'ufficio amministrativo")
                     : QString();
}

int Seeder::addClass(const QString &profileId, const QString &policyId, const ClassPlan &plan,
                     QList<int> *fieldIds) {
    const int classId = m_store.addClass(profileId, QString::fromUtf8(plan.name),
                                         QString::fromUtf8(plan.groups), policyId);
    if (!check(classId != 0))
        return 0;
    for (const FieldPlan &f : plan.fields) {
        const int id = m_store.addField(classId, QString::fromUtf8(f.name), f.type, f.required,
                                        QString::fromUtf8(f.tooltip));
        if (!check(id != 0))
            return 0;
        fieldIds->append(id);
    }
    return classId;
}

bool Seeder::preserveAll(const QString &owner, const QString &home, int classId,
                         const ClassPlan &plan, const QList<int> &fieldIds, int corrections) {
    for (int i = 0; i < plan.documents; ++i) {
        QMap<int, QString> values;
        for (int f = 0; f < plan.fields.size(); ++f) {
            const QString value = valueFor(plan.fields.at(f), i);
            if (!value.isEmpty())
                values.insert(fieldIds.at(f), value);
        }
        const QString fileName =
            QStringLiteral("%1\\%2\\%3")
                .arg(home, QString::fromUtf8(plan.folder),
                     QString::fromUtf8(plan.filePattern).arg(i + 1, 3, 10, QLatin1Char('0')));
        QByteArray content = QByteArrayLiteral("%PDF-1.4\n% Documento dimostrativo\n");
        content += fileName.toUtf8() + '\n';
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            content += it.value().toUtf8() + '\n';
        content += QByteArray(int(m_random.bounded(4000)), ' ') + "\n%%EOF\n";
        PreservedVersion version = m_store.preserve(owner, classId, fileName, content, values);
        if (!check(version.isValid()))
            return false;
        // Some documents were corrected afterwards, once or twice.
        const int times = (i < corrections) ? 1 + (i % 2) : 0;
        for (int c = 0; c < times; ++c) {
            content.insert(content.size() - 7,
                           QByteArray("% rettifica n. ") + QByteArray::number(c + 1) + '\n');
            values.insert(fieldIds.last(),
                          QStringLiteral("Rettifica n. %1 del documento").arg(c + 1));
            version = m_store.preserve(owner, classId, fileName, content, values, version.hash);
            if (!check(version.isValid()))
                return false;
        }
    }
    return true;
}

bool Seeder::run() {
    const FieldPlan numero{"Numero fattura", FieldType::Text, true,
                           "Numero progressivo della fattura, ad esempio 0012/2013"};
    const QList<ClassPlan> business = {
        {"Fatture attive",
         "Fatture",
         {numero,
          {"Data fattura", FieldType::Date, true, "Data di emissione della fattura"},
          {"Cliente", FieldType::Text, true, "Ragione sociale del cliente"},
          {"Partita IVA cliente", FieldType::Text, false, "Partita IVA o codice fiscale"},
          {"Importo", FieldType::Number, true, "Importo totale in euro, ad esempio 1250,00"},
          {"Note", FieldType::Text, false, ""}},
         9,
         "Amministrazione\\Fatture emesse",
         "Fattura_%1_2013.pdf"},
        {"Fatture passive",
         "Fatture passive",
         {numero,
          {"Data ricezione", FieldType::Date, true, "Data in cui la fattura è stata ricevuta"},
          {"Fornitore", FieldType::Text, true, "Ragione sociale del fornitore"},
          {"Importo", FieldType::Number, true, "Importo totale in euro"},
          {"Protocollo", FieldType::Number, false, "Numero di protocollo interno"},
          {"Note", FieldType::Text, false, ""}},
         8,
         "Amministrazione\\Fatture ricevute",
         "Fattura_fornitore_%1.pdf"},
        {"Note di credito",
         "Fatture",
         {{"Numero nota", FieldType::Text, true, "Numero della nota di credito"},
          {"Data emissione", FieldType::Date, true, ""},
          {"Fattura di riferimento", FieldType::Text, false, "Fattura stornata dalla nota"},
          {"Importo", FieldType::Number, true, "Importo stornato in euro"}},
         3,
         "Amministrazione\\Note di credito",
         "Nota_credito_%1.pdf"},
        {"Contratti di fornitura",
         "Contratti",
         {{"Controparte", FieldType::Text, true, "Fornitore o cliente che firma il contratto"},
          {"Data stipula", FieldType::Date, true, "Data della firma"},
          {"Scadenza", FieldType::Date, false, "Data di scadenza, se prevista"},
          {"Valore contratto", FieldType::Number, false, "Valore complessivo in euro"},
          {"Oggetto", FieldType::Text, false, "Breve descrizione della fornitura"}},
         6,
         "Contratti",
         "Contratto_fornitura_%1.pdf"},
        {"Contratti di lavoro",
         "Personale",
         {{"Dipendente", FieldType::Text, true, "Nome e cognome"},
          {"Data assunzione", FieldType::Date, true, ""},
          {"Matricola", FieldType::Text, false, "Matricola aziendale"}},
         4,
         "Personale\\Contratti",
         "Contratto_lavoro_%1.pdf"},
        {"Cedolini",
         "Personale",
         {{"Dipendente", FieldType::Text, true, "Nome e cognome"},
          {"Mese", FieldType::Number, true, "Mese di competenza, da 1 a 12"},
          {"Anno", FieldType::Number, true, "Anno di competenza"},
          {"Matricola", FieldType::Text, false, ""}},
         6,
         "Personale\\Cedolini",
         "Cedolino_%1.pdf"},
        {"Verbali di assemblea",
         "Societario",
         {{"Data assemblea", FieldType::Date, true, "Data della riunione"},
          {"Ordine del giorno", FieldType::Text, false, "Argomenti trattati"}},
         2,
         "Societario",
         "Verbale_assemblea_%1.pdf"},
    };
    const QList<ClassPlan> personal = {
        {"Ricevute",
         "Ricevute",
         {{"Descrizione", FieldType::Text, true, "Che cosa è stato pagato"},
          {"Data", FieldType::Date, false, ""},
          {"Importo", FieldType::Number, false, "Importo in euro"}},
         3,
         "Ricevute",
         "Ricevuta_%1.pdf"},
        {"Certificati",
         "Certificati",
         {{"Ente", FieldType::Text, true, "Ente che ha rilasciato il certificato"},
          {"Data rilascio", FieldType::Date, true, ""}},
         2,
         "Certificati",
         "Certificato_%1.pdf"},
    };

    const QString user = DemoSeed::userName();
    const QString home = QStringLiteral("C:\\Users\\mario.rossi\\Documents");
    if (!check(m_store.createUser(user, DemoSeed::password())))
        return false;
    const QString businessId = m_store.addProfile(user, QStringLiteral("Archivio aziendale"),
                                                  500000000, QStringLiteral("MB"), 1000000);
    const QString personalId = m_store.addProfile(user, QStringLiteral("Archivio personale"), 0,
                                                  QStringLiteral("MB"), 1000000);
    if (!check(!businessId.isEmpty() && !personalId.isEmpty()))
        return false;
    const QString businessPolicy =
        m_store.addPolicy(businessId, QStringLiteral("Conservazione decennale"));
    const QString personalPolicy =
        m_store.addPolicy(personalId, QStringLiteral("Conservazione illimitata"));
    if (!check(!businessPolicy.isEmpty() && !personalPolicy.isEmpty()))
        return false;
    int correctionsLeft = 6;
    auto seedProfile = [&](const QString &profileId, const QString &policyId,
                           const QList<ClassPlan> &plans) {
        for (const ClassPlan &plan : plans) {
            QList<int> fieldIds;
            const int classId = addClass(profileId, policyId, plan, &fieldIds);
            const int corrections = qMin(correctionsLeft, 2);
            correctionsLeft -= corrections;
            if (classId == 0 || !preserveAll(user, home, classId, plan, fieldIds, corrections))
                return false;
        }
        return true;
    };
    if (!seedProfile(businessId, businessPolicy, business) ||
        !seedProfile(personalId, personalPolicy, personal))
        return false;

    const QString other = DemoSeed::otherUserName();
    if (!check(m_store.createUser(other, DemoSeed::otherPassword())))
        return false;
    const QString otherProfile =
        m_store.addProfile(other, QStringLiteral("Studio Bianchi"), 200000000);
    if (!check(!otherProfile.isEmpty()))
        return false;
    const ClassPlan otherPlan{"Parcelle",
                              "Fatture",
                              {{"Numero parcella", FieldType::Text, true, ""},
                               {"Data", FieldType::Date, true, ""},
                               {"Cliente", FieldType::Text, true, ""}},
                              4,
                              "Parcelle",
                              "Parcella_%1.pdf"};
    QList<int> otherFields;
    const int otherClass = addClass(otherProfile, QString(), otherPlan, &otherFields);
    if (otherClass == 0 ||
        !preserveAll(other, QStringLiteral("C:\\Users\\laura.bianchi\\Documents"), otherClass,
                     otherPlan, otherFields, 1))
        return false;
    return true;
}
} // namespace

bool DemoSeed::seed(ServiceStore &store, QString *error) {
    Seeder seeder(store);
    if (seeder.run())
        return true;
    if (error)
        *error = seeder.error();
    return false;
}
