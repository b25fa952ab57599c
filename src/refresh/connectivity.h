#pragma once

#include <QString>

namespace quorvel {

class Fetcher;
class ReaderPort;

// The probe address; QUORVEL_PROBE_URL replaces it when set.
QString probeUrl();

// Fetches the probe address. True when it answers with a non-empty body. When the fetch
// fails, sets the offline title ("Quorvel RSS Reader - Offline <date> v.<version>") and the
// tip "Working Offline"; an empty answer changes nothing but answers false.
bool checkConnection(Fetcher& fetcher, ReaderPort& port, const QString& versionText,
                     const QString& probeAddress);

// "1_6_0_0" -> "1.6.0.0"
QString dottedVersion(const QString& versionText);
// Today's date in the system's short format.
QString shortDateText();

} // namespace quorvel
