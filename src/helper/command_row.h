#pragma once

#include "helper/command_result.h"
#include "helper/parameter_list.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

// How a row reads the parameter its action declares at a position: a
// `Parameter` is the element as sent, an `int32_t` its integer value.
template<typename T>
struct ParameterAccess;

template<>
struct ParameterAccess<Parameter> {
    static std::optional<Parameter> read(const ParameterList& list, std::size_t position) { return list.element(position); }
};

template<>
struct ParameterAccess<std::int32_t> {
    static std::optional<std::int32_t> read(const ParameterList& list, std::size_t position) { return list.integerValue(position); }
};

// A row's action gets the context and then its parameters, read from
// positions 0, 1, ... in order. When the list lacks a position the action is
// not performed and the row gives nothing.
template<typename Context>
using CommandAction = std::function<CommandResult(Context&, const ParameterList&)>;

template<typename Context, typename... Params, std::size_t... Positions>
CommandResult performWithParameters(CommandResult (*action)(Context&, Params...), Context& context,
    const ParameterList& list, std::index_sequence<Positions...>)
{
    // Braced initialisation reads the positions strictly in order.
    std::tuple<std::optional<std::decay_t<Params>>...> values { ParameterAccess<std::decay_t<Params>>::read(list, Positions)... };
    bool complete = (std::get<Positions>(values).has_value() && ...);
    if (!complete)
        return std::monostate {};
    return action(context, std::move(*std::get<Positions>(values))...);
}

template<typename Context, typename... Params>
CommandAction<Context> withParameters(CommandResult (*action)(Context&, Params...))
{
    return [action](Context& context, const ParameterList& list) {
        return performWithParameters(action, context, list, std::index_sequence_for<Params...> {});
    };
}

template<typename Context>
struct CommandRow {
    std::string_view word;
    CommandAction<Context> perform;
};
