#include "SyncBodyWriter.h"

#include "ServiceStore.h"

#include <QSqlQuery>
#include <QXmlStreamWriter>

namespace {
QString number(const QVariant &value) {
    return QString::number(value.toLongLong());
}
} // namespace

bool SyncBodyWriter::write(ServiceStore &store, QXmlStreamWriter &xml, const QString &owner,
                           double codesync) {
    QSqlQuery q(store.database());
    q.setForwardOnly(true);

    q.prepare(QStringLiteral("SELECT id, description, quota, used, unit, div FROM profiles"
                             " WHERE owner = ? ORDER BY id"));
    q.addBindValue(owner);
    if (!q.exec())
        return false;
    while (q.next()) {
        xml.writeEmptyElement(QStringLiteral("bucket"));
        xml.writeAttribute(QStringLiteral("id"), q.value(0).toString());
        xml.writeAttribute(QStringLiteral("description"), q.value(1).toString());
        xml.writeAttribute(QStringLiteral("quota"), number(q.value(2)));
        xml.writeAttribute(QStringLiteral("used"), number(q.value(3)));
        xml.writeAttribute(QStringLiteral("unit"), q.value(4).toString());
        xml.writeAttribute(QStringLiteral("div"), number(q.value(5)));
    }

    q.prepare(QStringLiteral("SELECT po.id, po.profile_id, po.description FROM policies po"
                             " JOIN profiles p ON p.id = po.profile_id WHERE p.owner = ?"
                             " ORDER BY po.profile_id, po.id"));
    q.addBindValue(owner);
    if (!q.exec())
        return false;
    while (q.next()) {
        xml.writeEmptyElement(QStringLiteral("policie"));
        xml.writeAttribute(QStringLiteral("policie"), q.value(0).toString());
        xml.writeAttribute(QStringLiteral("idbucket"), q.value(1).toString());
        xml.writeAttribute(QStringLiteral("description"), q.value(2).toString());
    }

    // Classes and their fields in one pass, ordered so each class's fields
    // follow it.
    q.prepare(QStringLiteral(
        "SELECT c.id, c.name, c.groups, c.custom, c.profile_id, c.policy_id,"
        " f.id, f.name, f.type, f.visible, f.required, f.custom, f.tooltip"
        " FROM classes c JOIN profiles p ON p.id = c.profile_id"
        " LEFT JOIN fields f ON f.class_id = c.id WHERE p.owner = ? ORDER BY c.id, f.id"));
    q.addBindValue(owner);
    if (!q.exec())
        return false;
    int openClass = 0;
    while (q.next()) {
        const int classId = q.value(0).toInt();
        if (classId != openClass) {
            if (openClass != 0)
                xml.writeEndElement();
            openClass = classId;
            xml.writeStartElement(QStringLiteral("folder"));
            xml.writeAttribute(QStringLiteral("id"), QString::number(classId));
            xml.writeAttribute(QStringLiteral("name"), q.value(1).toString());
            xml.writeAttribute(QStringLiteral("groups"), q.value(2).toString());
            xml.writeAttribute(QStringLiteral("custom"), number(q.value(3)));
            xml.writeAttribute(QStringLiteral("idbuckets"), q.value(4).toString());
            xml.writeAttribute(QStringLiteral("idpolicies"), q.value(5).toString());
        }
        if (q.isNull(6))
            continue; // a class without fields
        xml.writeEmptyElement(QStringLiteral("metadato"));
        xml.writeAttribute(QStringLiteral("idmetadato"), number(q.value(6)));
        xml.writeAttribute(QStringLiteral("idfolder"), QString::number(classId));
        xml.writeAttribute(QStringLiteral("name"), q.value(7).toString());
        xml.writeAttribute(QStringLiteral("type"), number(q.value(8)));
        xml.writeAttribute(QStringLiteral("visible"), number(q.value(9)));
        xml.writeAttribute(QStringLiteral("required"), number(q.value(10)));
        xml.writeAttribute(QStringLiteral("custom"), number(q.value(11)));
        xml.writeAttribute(QStringLiteral("tooltip"), q.value(12).toString());
    }
    if (openClass != 0)
        xml.writeEndElement();

    q.prepare(QStringLiteral(
        "SELECT hash, hash4k, last_modified, file_name, token, class_id, owner, tsupdate,"
        " profile_id, tsconserve, computer_name FROM versions"
        " WHERE owner = ? AND current = 1 AND tsupdate > ? ORDER BY tsupdate"));
    q.addBindValue(owner);
    q.addBindValue(codesync);
    if (!q.exec())
        return false;
    while (q.next()) {
        xml.writeEmptyElement(QStringLiteral("file"));
        xml.writeAttribute(QStringLiteral("hash"), q.value(0).toString());
        xml.writeAttribute(QStringLiteral("hash4k"), q.value(1).toString());
        xml.writeAttribute(QStringLiteral("last_modified"), q.value(2).toString());
        xml.writeAttribute(QStringLiteral("filename"), q.value(3).toString());
        xml.writeAttribute(QStringLiteral("token"), q.value(4).toString());
        xml.writeAttribute(QStringLiteral("idfolder"), number(q.value(5)));
        xml.writeAttribute(QStringLiteral("username"), q.value(6).toString());
        xml.writeAttribute(QStringLiteral("tsupdate"),
                           QString::number(q.value(7).toDouble(), 'f', 3));
        xml.writeAttribute(QStringLiteral("idbuckets"), q.value(8).toString());
        xml.writeAttribute(QStringLiteral("tsconserve"), q.value(9).toString());
        xml.writeAttribute(QStringLiteral("computer_name"), q.value(10).toString());
    }

    q.prepare(QStringLiteral("SELECT fv.field_id, fv.value, v.hash FROM versions v"
                             " JOIN field_values fv ON fv.version_id = v.id"
                             " WHERE v.owner = ? AND v.current = 1 AND v.tsupdate > ? ORDER BY "
                             "v.tsupdate, fv.field_id"));
    q.addBindValue(owner);
    q.addBindValue(codesync);
    if (!q.exec())
        return false;
    while (q.next()) {
        xml.writeEmptyElement(QStringLiteral("metadatoValue"));
        xml.writeAttribute(QStringLiteral("key"), number(q.value(0)));
        xml.writeAttribute(QStringLiteral("value"), q.value(1).toString());
        xml.writeAttribute(QStringLiteral("hash"), q.value(2).toString());
    }
    return true;
}
