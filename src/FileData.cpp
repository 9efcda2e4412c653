#include "FileData.h"

#include "TextCodec.h"

namespace {

template <std::size_t N>
std::u16string text(const char16_t (&buffer)[N])
{
    return std::u16string(buffer, platform::utf16Length(buffer, N));
}

}  // namespace

CompactProgInfo::CompactProgInfo(const ProgInfo& full)
    : active(full.active),
      status(full.status),
      recyear(full.recyear),
      recmonth(full.recmonth),
      recday(full.recday),
      rechour(full.rechour),
      recmin(full.recmin),
      recsec(full.recsec),
      durhour(full.durhour),
      durmin(full.durmin),
      dursec(full.dursec),
      rectimezone(full.rectimezone),
      makerid(full.makerid),
      modelcode(full.modelcode),
      recsrc(full.recsrc),
      chnum(full.chnum),
      chname(text(full.chname)),
      chnamelen(full.chnamelen),
      pname(text(full.pname)),
      pnamelen(full.pnamelen),
      pdetail(text(full.pdetail)),
      pdetaillen(full.pdetaillen),
      pextend(text(full.pextend)),
      pextendlen(full.pextendlen),
      genre{full.genre[0], full.genre[1], full.genre[2]},
      fullpath(text(full.fullpath)),
      fname(text(full.fname)),
      fext(text(full.fext)),
      fsize(full.fsize),
      networkID(full.networkID),
      serviceID(full.serviceID)
{
}

bool FileData::setSuccess(const bool v)
{
    success = v;
    return v;
}

bool FileData::setAvailableTS(const bool v)
{
    isTS = v;
    return v;
}
