#include "empimage.h"

#include "empimageprovider.h"
#include "processrefs.h"

EmpImage::EmpImage(QObject *parent)
    : QObject(parent)
{
}

void EmpImage::reset()
{
    if (EmpImageProvider *provider = ProcessRefs::imageProvider())
        provider->removeAllPictures();
}

void EmpImage::addImage(QString empId, QByteArray data)
{
    if (EmpImageProvider *provider = ProcessRefs::imageProvider())
        provider->insertPicture(std::move(empId), std::move(data));
}
