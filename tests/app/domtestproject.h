// A small project document shared by the project-model tests: a project
// module without label, a CAN interface without label holding two nodes, a
// scope with a plot and a "slave" reference to the drive, the drive, a plot
// directly below the project module, and a templates section.
#pragma once

#include <QDomDocument>
#include <QString>

namespace DomTestProject {

inline QString text()
{
    return QStringLiteral(R"(<QuorvaneProject>
 <module type="project">
  <module type="canusb">
   <properties><Port>COM1</Port><Baudrate>50000</Baudrate></properties>
   <docs/>
   <module type="nodeconfig" label="Node01" userLevel="1"/>
   <module type="nodeconfig" label="Node02" description="Second node"/>
  </module>
  <module type="datalog" label="Scope">
   <slave label="Drive01" type="drive_canopen"/>
   <slave label="Drive01" type="canusb"/>
   <module type="datalog_plot" label="Plot"/>
  </module>
  <module type="drive_canopen" label="Drive01" description="Axis X" userLevel="2"/>
  <module type="datalog_plot" label="Scope 2"/>
 </module>
 <templates>
  <module type="xypos" label="XY Positioning">
   <slave label="Drive01" type="drive_canopen"/>
  </module>
  <module type="drive_canopen" label="Drive01"/>
 </templates>
</QuorvaneProject>
)");
}

inline QDomDocument document()
{
    QDomDocument doc;
    doc.setContent(text());
    return doc;
}

}
