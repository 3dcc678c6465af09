#pragma once

#include "platform/Component.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace kavelo {

// Stored design-time values of a window's components, as text:
//
//   object sender: UdpEndpoint
//     RemoteHost = '127.0.0.1'
//     LocalPort = 5551
//     ACMFormatIn = {
//       81000000 3100...
//     }
//   end
//
// Values are integers, 'quoted strings' ('' for a quote), True/False, or a
// {hex} block handed to the component's DefineProperties hook.

// Writes every stored published property of each component, then its extra blocks.
QByteArray writeComponentData(const QList<Component*>& components);

// Sets the stored values on the owner's components, found by object name, then
// runs Loaded on each of them. Malformed data raises Exception naming the line.
void readComponentData(QObject* owner, QByteArrayView data);

// Reads stored data from a file or a Qt resource (":/forms/MainWindow.txt").
void readComponentDataFile(QObject* owner, const QString& path);

} // namespace kavelo
