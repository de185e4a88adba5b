// Rotator members: angles from and to the second motor's steps, with N = `MaxSteps` steps
// per turn. Targets keep the sign of the dividend and are not folded into 0..N-1.
#include "drivers/CRotatorImpl.h"

#include <cmath>
#include <limits>

namespace velq3 {

namespace {

// x / n in the precision of T; with n = 0 the floating-point result of the division
// (infinity with the sign of x, or not-a-number for 0 / 0), made explicit.
template <class T>
T Divide(T x, T n) {
    if (n != 0) return x / n;
    if (x == 0) return std::numeric_limits<T>::quiet_NaN();
    return std::copysign(std::numeric_limits<T>::infinity(), x);
}

} // namespace

HRESULT CRotatorImpl::get_CanReverse(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_TRUE;
    m_FW.Log("CRotatorImpl::get_CanReverse(%i)\n", RawValue(VARIANT_TRUE));
    return S_OK;
}

HRESULT CRotatorImpl::get_Connected(VariantBool* value) { return GetConnection("get_Connected", value); }

HRESULT CRotatorImpl::put_Connected(VariantBool value) {
    return PutConnection("put_Connected", value, [](std::int8_t mode) { return mode == -1; });
}

HRESULT CRotatorImpl::get_Description(Bstr* value) { return ReturnText(value, "Orn Rotator driver"); }
HRESULT CRotatorImpl::get_DriverInfo(Bstr* value) { return ReturnText(value, "Rotator driver"); }
HRESULT CRotatorImpl::get_DriverVersion(Bstr* value) { return ReturnText(value, "3.4"); }
HRESULT CRotatorImpl::get_Name(Bstr* value) { return ReturnText(value, "Orn Rotator"); }

HRESULT CRotatorImpl::get_InterfaceVersion(std::int16_t* value) {
    if (!value) return E_POINTER;
    *value = 1;
    m_FW.Log("CRotatorImpl::get_InterfaceVersion(1)\n");
    return S_OK;
}

HRESULT CRotatorImpl::get_IsMoving(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(m_FW.IsBusy());
    m_FW.Log("CRotatorImpl::get_IsMoving(%i)\n", RawValue(*value));
    return S_OK;
}

float CRotatorImpl::CurrentAngle() const {
    // Extended precision, then rounded once to single precision.
    const float angle = static_cast<float>(
        Divide(static_cast<long double>(m_FW.Focus2Pos) * 360.0L, static_cast<long double>(m_FW.MaxSteps)));
    return m_FW.RotatorReverse ? static_cast<float>(360.0 - angle) : angle;
}

HRESULT CRotatorImpl::get_Position(float* value) {
    if (!value) return E_POINTER;
    *value = CurrentAngle();
    m_FW.Log("CRotatorImpl::get_Position(%f)\n", *value);
    return S_OK;
}

HRESULT CRotatorImpl::get_TargetPosition(float* value) {
    // Moves are not remembered: the target reads as the current angle.
    return get_Position(value);
}

HRESULT CRotatorImpl::get_Reverse(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(m_FW.RotatorReverse);
    m_FW.Log("CRotatorImpl::get_Reverse(%i)\n", RawValue(*value));
    return S_OK;
}

HRESULT CRotatorImpl::put_Reverse(VariantBool value) {
    m_FW.Log("CRotatorImpl::put_Reverse(%i)\n", RawValue(value));
    m_FW.RotatorReverse = value == VARIANT_TRUE;  // exactly -1; other non-zero values clear it
    return S_OK;
}

HRESULT CRotatorImpl::get_StepSize(float* value) {
    if (!value) return E_POINTER;
    *value = static_cast<float>(Divide(360.0, static_cast<double>(m_FW.MaxSteps)));
    m_FW.Log("CRotatorImpl::get_StepSize(%f)\n", *value);
    return S_OK;
}

HRESULT CRotatorImpl::get_SupportedActions(SafeArray<Bstr>* value) {
    if (!value) return E_POINTER;
    m_FW.Log("CRotatorImpl::get_SupportedActions()\n");
    *value = SafeArray<Bstr>();
    return S_OK;
}

HRESULT CRotatorImpl::Halt() {
    m_FW.Log("CRotatorImpl::Halt()\n");
    return E_FAIL;
}

HRESULT CRotatorImpl::Move(float position) {
    m_FW.Log("CRotatorImpl::Move(%f)\n", position);
    const int n = m_FW.MaxSteps;
    // Without steps per turn there is no target; an angle that is not a number has none either.
    if (n == 0) return E_FAIL;
    if (!std::isfinite(position)) return E_INVALIDARG;
    const double angle = m_FW.RotatorReverse ? -position : position;
    const double k = std::trunc(angle / -360.0 * n);
    // Remainder in floating point: exact for every reachable step count, and no overflow
    // for huge angles.
    const int target = static_cast<int>(std::fmod(m_FW.Focus2Pos - k, n));
    m_FW.Log("m_FW.GoToPosition(%i)\n", target);
    return ResultOf(m_FW.GoToPosition(target, 1));
}

HRESULT CRotatorImpl::MoveAbsolute(float position) {
    m_FW.Log("CRotatorImpl::Move(%f)\n", position);
    const int n = m_FW.MaxSteps;
    if (n == 0) return E_FAIL;
    if (!std::isfinite(position)) return E_INVALIDARG;
    const float angle = m_FW.RotatorReverse ? static_cast<float>(360.0 - position) : position;
    const int target = static_cast<int>(std::fmod(std::trunc(angle / 360.0 * n), n));
    return ResultOf(m_FW.GoToPosition(target, 1));
}

HRESULT CRotatorImpl::SetupDialog() { return ShowSetupDialog(); }

} // namespace velq3
