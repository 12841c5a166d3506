#include "app/shell/tavrel_wrapper.h"

#include "listctrl/tavrel_ctrl.h"

#include <stdexcept>

namespace zef::app {

namespace {

using tavrel::Dispatch;

QVariant call(tavrel::CTavrelCtrl* c, int id, Dispatch kind, const QVariantList& args = {})
{
    QVariant result;
    if (!c->invoke(id, kind, args, &result))
        throw std::logic_error("the clip strip refused dispatch id " + std::to_string(id));
    return result;
}

} // namespace

CTavrel::CTavrel(QWidget* parent)
    : m_control(tavrel::createTavrelControl(QString::fromLatin1(tavrel::kClassId), parent))
{
    m_control->setProperty("controlId", kControlId);
}

QWidget* CTavrel::widget() const { return m_control; }

long CTavrel::GetTimeBase() const
{
    return long(call(m_control, tavrel::DISPID_TimeBase, Dispatch::PropertyGet).toLongLong());
}

void CTavrel::SetTimeBase(long timeBase)
{
    call(m_control, tavrel::DISPID_TimeBase, Dispatch::PropertyPut, {qlonglong(timeBase)});
}

short CTavrel::GetSelection() const
{
    return short(call(m_control, tavrel::DISPID_Selection, Dispatch::PropertyGet).toInt());
}

void CTavrel::SetSelection(short selection)
{
    call(m_control, tavrel::DISPID_Selection, Dispatch::PropertyPut, {selection});
}

short CTavrel::GetColumnOffset() const
{
    return short(call(m_control, tavrel::DISPID_ColumnOffset, Dispatch::PropertyGet).toInt());
}

void CTavrel::SetColumnOffset(short offset)
{
    call(m_control, tavrel::DISPID_ColumnOffset, Dispatch::PropertyPut, {offset});
}

short CTavrel::GetVisibleColumnCount() const
{
    return short(call(m_control, tavrel::DISPID_VisibleColumnCount, Dispatch::PropertyGet).toInt());
}

void CTavrel::SetValue(short column, short row, long value)
{
    call(m_control, tavrel::DISPID_SetValue, Dispatch::Method, {column, row, qlonglong(value)});
}

short CTavrel::AddRow(const QString& name)
{
    return short(call(m_control, tavrel::DISPID_AddRow, Dispatch::Method, {name}).toInt());
}

void CTavrel::ResetColumns() { call(m_control, tavrel::DISPID_ResetColumns, Dispatch::Method); }

void CTavrel::SetColumnText(short column, const QString& name, const QString& tip)
{
    call(m_control, tavrel::DISPID_SetColumnText, Dispatch::Method, {column, name, tip});
}

void CTavrel::SetThumbnail(short column, const void* image, short width, short height)
{
    call(m_control, tavrel::DISPID_SetThumbnail, Dispatch::Method,
         {column, QVariant::fromValue(const_cast<void*>(image)), width, height});
}

short CTavrel::GetColumnCount() const
{
    return short(call(m_control, tavrel::DISPID_GetColumnCount, Dispatch::Method).toInt());
}

short CTavrel::AddNewColumn(const QString& name, const QString& tip, long rate, bool filter)
{
    return short(call(m_control, tavrel::DISPID_AddNewColumn, Dispatch::Method,
                      {name, tip, qlonglong(rate), filter})
                     .toInt());
}

short CTavrel::GetItemSelection(short column) const
{
    return short(
        call(m_control, tavrel::DISPID_GetItemSelection, Dispatch::Method, {column}).toInt());
}

} // namespace zef::app
